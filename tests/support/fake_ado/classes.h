// Class factories that put fakes in place of the real ADO classes in the COM
// class registry (ComRegisterClass), and an object that is no ADO object.
#pragma once

#include <functional>

#include "platform/com/com.h"

namespace fake {

// Makes a T (self-deleting) and answers riid with it.
template <class T>
HRESULT MakeObject(REFIID riid, void** out) {
  T* object = new T;
  const HRESULT hr = object->QueryInterface(riid, out);
  object->Release();
  return hr;
}

// A factory that cannot make anything.
inline HRESULT FailingFactory(REFIID, void** out) {
  *out = nullptr;
  return E_OUTOFMEMORY;
}

// An object that answers only IUnknown: asking it for an ADO interface
// answers E_NOINTERFACE.
class FakeUnknown : public IUnknown, public ComRefCount {
 public:
  HRESULT QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown) {
      AddRef();
      *out = static_cast<IUnknown*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return DoAddRef(); }
  ULONG Release() override { return DoRelease(); }
};

}  // namespace fake
