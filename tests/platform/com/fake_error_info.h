// An error-information object with fixed texts and a counted reference.
#pragma once

#include <string>

#include "platform/com/com.h"

class FakeErrorInfo : public IErrorInfo {
 public:
  FakeErrorInfo(const char16_t* source, const char16_t* description)
      : source_(source), description_(description) {}
  HRESULT QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (riid != IID_IUnknown && riid != IID_IErrorInfo) return E_NOINTERFACE;
    *out = this;
    ++refs;
    return S_OK;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT GetGUID(GUID* guid) override {
    *guid = GUID_NULL;
    return S_OK;
  }
  HRESULT GetSource(BSTR* out) override { return Give(source_, out); }
  HRESULT GetDescription(BSTR* out) override { return Give(description_, out); }

  int refs = 1;
  bool failing = false;

 private:
  HRESULT Give(const char16_t* text, BSTR* out) {
    *out = nullptr;
    if (failing) return E_FAIL;
    *out = text ? SysAllocString(text) : nullptr;
    return S_OK;
  }
  const char16_t* source_;
  const char16_t* description_;
};
