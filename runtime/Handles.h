// Move-only owners for the Windows resources that the runtime holds: kernel handles, file and find
// handles, modules, windows, BSTRs, VARIANTs and COM interface pointers. Each releases its resource
// when it goes; copying is not allowed (it would release twice). The verbs are the standard
// library's: get(), reset(), release(), and put() for Win32 out-parameters (it empties the owner
// first and returns the address of its slot).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace zv {

// Owns one resource described by Traits: `pointer`, the empty value `Empty()` and `Close(p)`.
template <class Traits>
class UniqueResource {
 public:
  using pointer = typename Traits::pointer;

  UniqueResource() noexcept = default;
  explicit UniqueResource(pointer p) noexcept : p_(p) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : p_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~UniqueResource() { reset(); }

  pointer get() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != Traits::Empty(); }
  pointer release() noexcept { return std::exchange(p_, Traits::Empty()); }
  void reset(pointer p = Traits::Empty()) noexcept {
    pointer old = std::exchange(p_, p);
    if (old != Traits::Empty() && old != p) Traits::Close(old);
  }
  pointer* put() noexcept {
    reset();
    return &p_;
  }

 private:
  pointer p_ = Traits::Empty();
};

namespace handle_traits {
struct Kernel {  // process, thread, event, snapshot: empty is null
  using pointer = HANDLE;
  static pointer Empty() noexcept { return nullptr; }
  static void Close(pointer p) noexcept { ::CloseHandle(p); }
};
struct File {  // CreateFile: empty is INVALID_HANDLE_VALUE
  using pointer = HANDLE;
  static pointer Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(pointer p) noexcept { ::CloseHandle(p); }
};
struct Find {
  using pointer = HANDLE;
  static pointer Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(pointer p) noexcept { ::FindClose(p); }
};
struct Module {
  using pointer = HMODULE;
  static pointer Empty() noexcept { return nullptr; }
  static void Close(pointer p) noexcept { ::FreeLibrary(p); }
};
struct Window {
  using pointer = HWND;
  static pointer Empty() noexcept { return nullptr; }
  static void Close(pointer p) noexcept { ::DestroyWindow(p); }
};
struct Bstr {
  using pointer = BSTR;
  static pointer Empty() noexcept { return nullptr; }
  static void Close(pointer p) noexcept { ::SysFreeString(p); }
};
}  // namespace handle_traits

using UniqueHandle = UniqueResource<handle_traits::Kernel>;
using UniqueFile = UniqueResource<handle_traits::File>;
using UniqueFind = UniqueResource<handle_traits::Find>;
using UniqueModule = UniqueResource<handle_traits::Module>;
using UniqueWindow = UniqueResource<handle_traits::Window>;
using UniqueBstr = UniqueResource<handle_traits::Bstr>;

// Owns a VARIANT: initialised empty, cleared (VariantClear) when it goes or is reset.
class UniqueVariant {
 public:
  UniqueVariant() noexcept { ::VariantInit(&v_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;
  UniqueVariant(UniqueVariant&& other) noexcept : v_(other.release()) {}
  UniqueVariant& operator=(UniqueVariant&& other) noexcept {
    if (this != &other) {
      reset();
      v_ = other.release();
    }
    return *this;
  }
  ~UniqueVariant() { reset(); }

  VARIANT* get() noexcept { return &v_; }
  const VARIANT* get() const noexcept { return &v_; }
  VARIANT* operator->() noexcept { return &v_; }
  const VARIANT* operator->() const noexcept { return &v_; }
  VARTYPE vt() const noexcept { return V_VT(&v_); }
  // Clears the variant; it is empty (VT_EMPTY) afterwards.
  void reset() noexcept { ::VariantClear(&v_); }
  // Hands the content over to the caller, who must clear it; this owner is left empty.
  VARIANT release() noexcept {
    VARIANT out = v_;
    ::VariantInit(&v_);
    return out;
  }
  VARIANT* put() noexcept {
    reset();
    return &v_;
  }

 private:
  VARIANT v_;
};

// Owns one reference to a COM interface.
template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : p_(other.release()) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~ComPtr() { reset(); }

  // Takes over a reference that the caller already holds.
  static ComPtr Adopt(T* p) noexcept {
    ComPtr c;
    c.p_ = p;
    return c;
  }
  // Adds a reference of its own.
  static ComPtr AddRefOf(T* p) noexcept {
    if (p != nullptr) p->AddRef();
    return Adopt(p);
  }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  T* release() noexcept { return std::exchange(p_, nullptr); }
  void reset(T* p = nullptr) noexcept {
    T* old = std::exchange(p_, p);
    if (old != nullptr) old->Release();
  }
  T** put() noexcept {
    reset();
    return &p_;
  }
  // The same object through another interface (QueryInterface); the result is empty on failure.
  template <class U>
  HRESULT As(REFIID iid, ComPtr<U>* out) const noexcept {
    if (p_ == nullptr) return E_POINTER;
    return p_->QueryInterface(iid, reinterpret_cast<void**>(out->put()));
  }

 private:
  T* p_ = nullptr;
};

}  // namespace zv
