// Common plumbing of the data objects: reference counting, QueryInterface
// for IUnknown/IDispatch/the object's own interfaces/ISupportErrorInfo, and
// the answer to InterfaceSupportsErrorInfo.
#pragma once

#include <utility>

#include "platform/ado/ado.h"

namespace zado {

template <class Iface>
class DispatchObject : public Iface, public ISupportErrorInfo, public ComRefCount {
 public:
  zwin::ULONG AddRef() override { return DoAddRef(); }
  zwin::ULONG Release() override { return DoRelease(); }

  HRESULT QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || IsOwnInterface(riid)) {
      *out = static_cast<Iface*>(this);
    } else if (riid == IID_ISupportErrorInfo) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else {
      return E_NOINTERFACE;
    }
    DoAddRef();
    return S_OK;
  }

  HRESULT InterfaceSupportsErrorInfo(REFIID riid) override {
    return NamesInFailures(riid) ? S_OK : S_FALSE;
  }

 protected:
  // The interfaces QueryInterface answers besides IUnknown and IDispatch.
  virtual bool IsOwnInterface(REFIID riid) const = 0;
  // The interfaces this object's failures name in their error information.
  virtual bool NamesInFailures(REFIID riid) const = 0;
};

// Holds one counted reference; releases it when destroyed.
template <class T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* adopted) : p_(adopted) {}
  Ref(const Ref& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  Ref& operator=(Ref o) {
    std::swap(p_, o.p_);
    return *this;
  }
  ~Ref() {
    if (p_) p_->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Hands out a new reference.
  T* AddRefed() const {
    if (p_) p_->AddRef();
    return p_;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace zado
