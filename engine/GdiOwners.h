// Move-only owners for what the engine creates and must release: GDI objects (fonts, brushes) and the
// top-level window. Controls are plain HWNDs owned by their parent window, which destroys them.
#pragma once

#include <windows.h>

namespace zv::engine {

// Owns one GDI object (a font or a brush); DeleteObject when it goes.
template <class Handle>
class UniqueGdiObject {
 public:
  UniqueGdiObject() noexcept = default;
  explicit UniqueGdiObject(Handle h) noexcept : h_(h) {}
  UniqueGdiObject(const UniqueGdiObject&) = delete;
  UniqueGdiObject& operator=(const UniqueGdiObject&) = delete;
  UniqueGdiObject(UniqueGdiObject&& other) noexcept : h_(other.release()) {}
  UniqueGdiObject& operator=(UniqueGdiObject&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~UniqueGdiObject() { reset(); }

  Handle get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != nullptr; }
  Handle release() noexcept {
    Handle h = h_;
    h_ = nullptr;
    return h;
  }
  void reset(Handle h = nullptr) noexcept {
    if (h_ != nullptr) DeleteObject(h_);
    h_ = h;
  }

 private:
  Handle h_ = nullptr;
};

using UniqueFont = UniqueGdiObject<HFONT>;
using UniqueBrush = UniqueGdiObject<HBRUSH>;

// Owns a top-level window; DestroyWindow when it goes (unless it is already gone).
class UniqueWindow {
 public:
  UniqueWindow() noexcept = default;
  explicit UniqueWindow(HWND h) noexcept : h_(h) {}
  UniqueWindow(const UniqueWindow&) = delete;
  UniqueWindow& operator=(const UniqueWindow&) = delete;
  UniqueWindow(UniqueWindow&& other) noexcept : h_(other.release()) {}
  UniqueWindow& operator=(UniqueWindow&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~UniqueWindow() { reset(); }

  HWND get() const noexcept { return h_; }
  HWND release() noexcept {
    HWND h = h_;
    h_ = nullptr;
    return h;
  }
  void reset(HWND h = nullptr) noexcept {
    if (h_ != nullptr && IsWindow(h_)) DestroyWindow(h_);
    h_ = h;
  }

 private:
  HWND h_ = nullptr;
};

}  // namespace zv::engine
