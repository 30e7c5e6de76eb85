// A small counted object for tests: answers IUnknown, and IDispatch when
// asked to; `alive` tells whether it still exists.
#pragma once

#include "platform/com/com.h"

class FakeObject final : public IDispatch, public ComRefCount {
 public:
  explicit FakeObject(bool* alive, bool dispatch = true) : alive_(alive), dispatch_(dispatch) {
    if (alive_ != nullptr) *alive_ = true;
  }

  HRESULT QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown) {
      *out = static_cast<IUnknown*>(this);
    } else if (riid == IID_IDispatch && dispatch_) {
      *out = static_cast<IDispatch*>(this);
    } else {
      return E_NOINTERFACE;
    }
    DoAddRef();
    return S_OK;
  }
  ULONG AddRef() override { return DoAddRef(); }
  ULONG Release() override { return DoRelease(); }

  // Current count, read by adding and dropping one reference.
  ULONG Refs() {
    DoAddRef();
    return DoRelease();
  }

 private:
  ~FakeObject() override {
    if (alive_ != nullptr) *alive_ = false;
  }
  bool* alive_;
  bool dispatch_;
};
