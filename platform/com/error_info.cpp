// Per-thread error information: each thread holds at most one error object.
#include <new>

#include "platform/com/com.h"

namespace {

// Releases whatever the thread still holds when the thread ends.
struct ErrorSlot {
  IErrorInfo* info = nullptr;
  ~ErrorSlot() {
    if (info != nullptr) info->Release();
  }
};

thread_local ErrorSlot t_slot;

class ErrorObject final : public IErrorInfo, public ComRefCount {
 public:
  ErrorObject(REFIID iid, BSTR source, BSTR description)
      : iid_(iid), source_(source), description_(description) {}

  HRESULT QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IErrorInfo) {
      DoAddRef();
      *out = static_cast<IErrorInfo*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return DoAddRef(); }
  ULONG Release() override { return DoRelease(); }

  HRESULT GetGUID(GUID* guid) override {
    if (guid == nullptr) return E_POINTER;
    *guid = iid_;
    return S_OK;
  }
  HRESULT GetSource(BSTR* source) override { return CopyText(source_, source); }
  HRESULT GetDescription(BSTR* description) override {
    return CopyText(description_, description);
  }

 private:
  ~ErrorObject() override {
    SysFreeString(source_);
    SysFreeString(description_);
  }

  static HRESULT CopyText(BSTR text, BSTR* out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (text == nullptr) return S_OK;
    *out = SysAllocStringByteLen(reinterpret_cast<const char*>(text), SysStringByteLen(text));
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
  }

  IID iid_;
  BSTR source_;
  BSTR description_;
};

}  // namespace

HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info) {
  if (info == nullptr || reserved != 0) return E_INVALIDARG;
  *info = t_slot.info;  // the slot's reference passes to the caller
  t_slot.info = nullptr;
  return *info == nullptr ? S_FALSE : S_OK;
}

HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info) {
  if (reserved != 0) return E_INVALIDARG;
  if (info != nullptr) info->AddRef();  // before the release: info may be the old one
  IErrorInfo* old = t_slot.info;
  t_slot.info = info;
  if (old != nullptr) old->Release();
  return S_OK;
}

HRESULT ComSetErrorInfo(REFIID iid, const OLECHAR* source, const OLECHAR* description) {
  BSTR src = SysAllocString(source);
  BSTR desc = SysAllocString(description);
  if ((source != nullptr && src == nullptr) || (description != nullptr && desc == nullptr)) {
    SysFreeString(src);
    SysFreeString(desc);
    return E_OUTOFMEMORY;
  }
  auto* object = new (std::nothrow) ErrorObject(iid, src, desc);
  if (object == nullptr) {
    SysFreeString(src);
    SysFreeString(desc);
    return E_OUTOFMEMORY;
  }
  HRESULT hr = SetErrorInfo(0, object);
  object->Release();
  return hr;
}
