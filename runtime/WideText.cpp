// GBK <-> UTF-16 with code page 936 named explicitly.
#include "runtime/WideText.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <cwchar>

#include "runtime/Heap.h"

namespace zv {
namespace {
constexpr wchar_t kEuroSign = 0x20AC;
}  // namespace

WideText WideText::Allocate(std::size_t length) {
  const std::size_t bytes = (length + 1) * sizeof(wchar_t);
  WideText w;
  w.p_ = static_cast<wchar_t*>(heap::AllocateZeroed(bytes));
  return w;
}

WideText WideText::Copy(const wchar_t* units, std::size_t length) {
  WideText w = Allocate(length);
  if (length > 0) std::memcpy(w.p_, units, length * sizeof(wchar_t));
  return w;
}

WideText WideText::Copy(const wchar_t* text) {
  return text == nullptr ? WideText() : Copy(text, std::wcslen(text));
}

std::size_t WideText::length() const noexcept { return p_ ? std::wcslen(p_) : 0; }

void WideText::reset(wchar_t* block) noexcept {
  wchar_t* old = p_;
  p_ = block;
  if (old != block) heap::Free(old);
}

WideText ToWide(const char* bytes, std::size_t length) {
  if (bytes == nullptr || length == 0 || length > INT_MAX) return WideText::Allocate(0);
  const int units = MultiByteToWideChar(kGbkCodePage, 0, bytes, static_cast<int>(length), nullptr, 0);
  if (units <= 0) return WideText::Allocate(0);
  WideText wide = WideText::Allocate(static_cast<std::size_t>(units));
  MultiByteToWideChar(kGbkCodePage, 0, bytes, static_cast<int>(length), wide.get(), units);
  return wide;
}

WideText ToWide(TextArg text) { return ToWide(text.c_str(), text.length()); }

Text ToGbk(const wchar_t* units, std::size_t length, bool* held) {
  if (held != nullptr) *held = true;
  if (units == nullptr || length == 0 || length > INT_MAX / 2) return Text();
  // "€" first becomes "?" in a copy, so that 0x80 never reaches the bytes.
  WideText copy;
  if (std::wmemchr(units, kEuroSign, length) != nullptr) {
    copy = WideText::Copy(units, length);
    for (std::size_t i = 0; i < length; ++i) {
      if (copy.get()[i] == kEuroSign) copy.get()[i] = L'?';
    }
    units = copy.c_str();
    if (held != nullptr) *held = false;
  }
  const int count = static_cast<int>(length);
  BOOL usedDefault = FALSE;
  const int bytes = WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, units, count, nullptr, 0, "?",
                                        &usedDefault);
  if (bytes <= 0) {
    if (held != nullptr) *held = false;
    return Text();
  }
  Text text = Text::Allocate(static_cast<std::size_t>(bytes));
  WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, units, count, text.get(), bytes, "?", &usedDefault);
  if (usedDefault && held != nullptr) *held = false;
  return text;
}

Text ToGbk(const wchar_t* text, bool* held) {
  return ToGbk(text, text == nullptr ? 0 : std::wcslen(text), held);
}

}  // namespace zv
