// Stand-ins for Field and Fields.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tests/support/fake_ado/object.h"

namespace fake {

class FakeField : public Object<Field> {
 public:
  explicit FakeField(Lifetime lifetime = Lifetime::kTestOwned) : Object<Field>(IID_Field, lifetime) {
    VariantInit(&value);
  }
  ~FakeField() override { VariantClear(&value); }

  HRESULT get_Name(BSTR* out) override {
    *out = nullptr;
    HRESULT hr = Call("Name");
    if (SUCCEEDED(hr) && !null_name) *out = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
    return hr;
  }
  HRESULT get_Value(VARIANT* out) override {
    VariantInit(out);
    HRESULT hr = Call("Value");
    if (SUCCEEDED(hr)) VariantCopy(out, &value);
    return hr;
  }
  HRESULT get_Type(LONG* out) override { *out = type; return Call("Type"); }
  HRESULT get_ActualSize(LONG* out) override { *out = size; return Call("ActualSize"); }
  HRESULT get_DefinedSize(LONG* out) override {
    *out = defined_size >= 0 ? defined_size : size;
    return Call("DefinedSize");
  }
  HRESULT get_Attributes(LONG* out) override { *out = attributes; return Call("Attributes"); }
  HRESULT get_Status(LONG* out) override { *out = status; return Call("Status"); }

  // Value setters for the tests.
  void SetText(const std::u16string& text) {
    VariantClear(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    type = adVarWChar;
    size = static_cast<LONG>(text.size() * 2);
  }
  void SetDouble(double d) {
    VariantClear(&value);
    value.vt = VT_R8;
    value.dblVal = d;
    type = adDouble;
    size = 8;
  }
  void SetInt(LONG i) {
    VariantClear(&value);
    value.vt = VT_I4;
    value.lVal = i;
    type = adInteger;
    size = 4;
  }
  void SetNull() {
    VariantClear(&value);
    value.vt = VT_NULL;
    size = 0;
  }

  std::u16string name = u"f";
  bool null_name = false;
  VARIANT value;
  LONG type = adVarWChar;
  LONG size = 0;
  LONG defined_size = -1;  // -1: size
  LONG attributes = 0;
  LONG status = 0;
};

class FakeFields : public Object<Fields> {
 public:
  explicit FakeFields(Lifetime lifetime = Lifetime::kTestOwned) : Object<Fields>(IID_Fields, lifetime) {}
  HRESULT get_Count(LONG* out) override {
    *out = static_cast<LONG>(items.size());
    return Call("Count");
  }
  HRESULT get_Item(VARIANT index, Field** out) override {
    *out = nullptr;
    index_types.push_back(index.vt);
    HRESULT hr = Call("Item");
    if (FAILED(hr)) return hr;
    LONG i = IndexOf(index);
    if (i < 0 || i >= static_cast<LONG>(items.size())) return adErrItemNotFound;
    if (item_error) return *item_error;
    items[i]->AddRef();
    *out = items[i];
    return S_OK;
  }
  // A self-deleting collection holds a reference to each item it gets here.
  void Add(FakeField* field) { items.push_back(SelfDeleting() ? Hold(field) : field); }

  std::vector<FakeField*> items;
  std::vector<VARTYPE> index_types;
  // What an index in range answers instead of its item (no current record).
  std::optional<HRESULT> item_error;
};

}  // namespace fake
