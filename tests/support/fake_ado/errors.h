// Stand-ins for Error and Errors.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tests/support/fake_ado/object.h"

namespace fake {

class FakeError : public Object<Error> {
 public:
  explicit FakeError(Lifetime lifetime = Lifetime::kTestOwned) : Object<Error>(IID_Error, lifetime) {}
  HRESULT get_Number(LONG* out) override { *out = number; return Call("Number"); }
  HRESULT get_Description(BSTR* out) override {
    *out = nullptr;
    HRESULT hr = Call("Description");
    if (SUCCEEDED(hr) || leaky)
      *out = SysAllocStringLen(description.data(), static_cast<UINT>(description.size()));
    return hr;
  }
  HRESULT get_Source(BSTR* out) override { return Text(source, "Source", out); }
  HRESULT get_SQLState(BSTR* out) override { return Text(sql_state, "SQLState", out); }
  HRESULT get_NativeError(LONG* out) override { *out = 0; return Call("NativeError"); }

  LONG number = 0;
  std::u16string description;
  // Hands its text out even when it fails, as a careless provider might
  // (the sanitizer build then shows whether the caller frees it).
  bool leaky = false;
  std::optional<std::u16string> source;  // none: a null string
  std::optional<std::u16string> sql_state;

 private:
  HRESULT Text(const std::optional<std::u16string>& text, const char* op, BSTR* out) {
    *out = nullptr;
    HRESULT hr = Call(op);
    if (SUCCEEDED(hr) && text) *out = SysAllocStringLen(text->data(), static_cast<UINT>(text->size()));
    return hr;
  }
};

class FakeErrors : public Object<Errors> {
 public:
  explicit FakeErrors(Lifetime lifetime = Lifetime::kTestOwned) : Object<Errors>(IID_Errors, lifetime) {}
  HRESULT get_Count(LONG* out) override {
    *out = static_cast<LONG>(items.size());
    return Call("Count");
  }
  HRESULT get_Item(VARIANT index, Error** out) override {
    *out = nullptr;
    index_types.push_back(index.vt);
    HRESULT hr = Call("Item");
    if (FAILED(hr)) return hr;
    LONG i = IndexOf(index);
    if (i < 0 || i >= static_cast<LONG>(items.size())) return adErrItemNotFound;
    items[i]->AddRef();
    *out = items[i];
    return S_OK;
  }
  // A self-deleting collection holds a reference to each item it gets here.
  void Add(FakeError* error) { items.push_back(SelfDeleting() ? Hold(error) : error); }

  std::vector<FakeError*> items;
  std::vector<VARTYPE> index_types;
};

}  // namespace fake
