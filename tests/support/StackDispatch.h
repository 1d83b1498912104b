// An automation object of a test's own, for handing to the runtime's automation calls in place of a
// system object: IUnknown and IDispatch only, reference counted but never deleted (it lives on the
// test's stack), one type description (built by the derived object into typeInfo_) handed out by
// GetTypeInfo, and no name lookup (the runtime binds names through the type description).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "runtime/Automation.h"

namespace zv::test {

class StackDispatch : public IDispatch {
 public:
  StackDispatch() = default;
  StackDispatch(const StackDispatch&) = delete;
  StackDispatch& operator=(const StackDispatch&) = delete;
  virtual ~StackDispatch() {
    if (typeInfo_ != nullptr) typeInfo_->Release();
  }

  // Whether the type description could be built.
  bool ready() const { return typeInfo_ != nullptr; }
  // A record holding this object, as CreateAutomationObject leaves one.
  AutomationObject Record() {
    AutomationObject object;
    object.unknown = this;
    AddRef();
    return object;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown && iid != IID_IDispatch) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    typeInfo_->AddRef();
    *info = typeInfo_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

 protected:
  ITypeInfo* typeInfo_ = nullptr;

 private:
  ULONG references_ = 1;
};

}  // namespace zv::test
