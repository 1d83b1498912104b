// The one boundary between the runtime's GBK text and Windows' UTF-16: every text handed to or taken
// from a wide Windows call goes through ToWide and ToGbk, which name code page 936 themselves. The
// system's ANSI code page is never involved, so the wizard reads the same on every system language.
#pragma once

#include <cstddef>

#include "runtime/Text.h"

namespace zv {

// GBK. A Windows code page number, named wherever bytes meet UTF-16.
constexpr unsigned kGbkCodePage = 936;

// Owns a NUL-terminated UTF-16 text in a runtime-heap block. An empty WideText reads as L"".
class WideText {
 public:
  WideText() noexcept = default;
  WideText(const WideText&) = delete;
  WideText& operator=(const WideText&) = delete;
  WideText(WideText&& other) noexcept : p_(other.release()) {}
  WideText& operator=(WideText&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~WideText() { reset(); }

  // A new block of `length` units plus the NUL, never null; the units are set to zero.
  static WideText Allocate(std::size_t length);
  // A new copy of `length` units (plus the NUL).
  static WideText Copy(const wchar_t* units, std::size_t length);
  static WideText Copy(const wchar_t* text);

  const wchar_t* c_str() const noexcept { return p_ ? p_ : L""; }
  wchar_t* get() const noexcept { return p_; }
  std::size_t length() const noexcept;
  bool empty() const noexcept { return p_ == nullptr || *p_ == L'\0'; }

  wchar_t* release() noexcept {
    wchar_t* p = p_;
    p_ = nullptr;
    return p;
  }
  void reset(wchar_t* block = nullptr) noexcept;

 private:
  wchar_t* p_ = nullptr;
};

// GBK bytes as UTF-16. A byte sequence that GBK does not define becomes the system's default
// character for it; nothing is ever dropped.
WideText ToWide(const char* bytes, std::size_t length);
WideText ToWide(TextArg text);

// UTF-16 as GBK bytes. A character that GBK cannot hold (an emoji, a Korean syllable, a lone
// surrogate) becomes "?", and `held`, where given, says false. "€" counts as such a character: code
// page 936 writes it as the single byte 0x80, which the text operations would read as the first byte
// of a two-byte character. No best-fit substitutes are taken ("ä" is not written as "a").
Text ToGbk(const wchar_t* units, std::size_t length, bool* held = nullptr);
Text ToGbk(const wchar_t* text, bool* held = nullptr);

}  // namespace zv
