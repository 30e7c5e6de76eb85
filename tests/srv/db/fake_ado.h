// Hand-written stand-ins for the ADO objects. They count references without
// deleting themselves (the test owns them), log the operations called, fail
// an operation on request (setting the thread's error information first, as
// the real objects do) and answer ISupportErrorInfo as configured.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/com/com.h"

namespace fake {

template <class I>
class Object : public I, public ISupportErrorInfo {
 public:
  explicit Object(const IID& own) : own_(own) {}
  virtual ~Object() = default;

  HRESULT QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == own_) {
      *out = static_cast<I*>(this);
    } else if (riid == IID_ISupportErrorInfo && has_support) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else {
      return E_NOINTERFACE;
    }
    ++refs;
    return S_OK;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT InterfaceSupportsErrorInfo(REFIID riid) override {
    asked.push_back(riid);
    return riid == supported ? support_answer : S_FALSE;
  }

  // Fails op with fail[op] when set, leaving error information behind.
  HRESULT Call(const char* op) {
    log.push_back(op);
    auto it = fail.find(op);
    if (it == fail.end()) return S_OK;
    ComSetErrorInfo(own_, u"Fake.Source", u"fake failure");
    return it->second;
  }

  int refs = 1;  // the test's own reference
  bool has_support = true;
  IID supported = GUID_NULL;  // the interface answered with support_answer
  HRESULT support_answer = S_OK;
  std::vector<IID> asked;
  std::vector<std::string> log;
  std::map<std::string, HRESULT> fail;

 private:
  IID own_;
};

inline LONG IndexOf(const VARIANT& v) {
  switch (v.vt) {
    case VT_I2: return v.iVal;
    case VT_I4: return v.lVal;
    default: return -1;
  }
}

class FakeField : public Object<Field> {
 public:
  FakeField() : Object<Field>(IID_Field) { VariantInit(&value); }
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
  HRESULT get_DefinedSize(LONG* out) override { *out = size; return Call("DefinedSize"); }
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
  LONG attributes = 0;
  LONG status = 0;
};

class FakeFields : public Object<Fields> {
 public:
  FakeFields() : Object<Fields>(IID_Fields) {}
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
    items[i]->AddRef();
    *out = items[i];
    return S_OK;
  }
  std::vector<FakeField*> items;
  std::vector<VARTYPE> index_types;
};

class FakeError : public Object<Error> {
 public:
  FakeError() : Object<Error>(IID_Error) {}
  HRESULT get_Number(LONG* out) override { *out = number; return Call("Number"); }
  HRESULT get_Description(BSTR* out) override {
    *out = nullptr;
    HRESULT hr = Call("Description");
    if (SUCCEEDED(hr) || leaky)
      *out = SysAllocStringLen(description.data(), static_cast<UINT>(description.size()));
    return hr;
  }
  // Hands its text out even when it fails, as a careless provider might
  // (the sanitizer build then shows whether the caller frees it).
  bool leaky = false;
  HRESULT get_Source(BSTR* out) override { *out = nullptr; return Call("Source"); }
  HRESULT get_SQLState(BSTR* out) override { *out = nullptr; return Call("SQLState"); }
  HRESULT get_NativeError(LONG* out) override { *out = 0; return Call("NativeError"); }
  LONG number = 0;
  std::u16string description;
};

class FakeErrors : public Object<Errors> {
 public:
  FakeErrors() : Object<Errors>(IID_Errors) {}
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
  std::vector<FakeError*> items;
  std::vector<VARTYPE> index_types;
};

class FakeConnection : public Object<_Connection> {
 public:
  FakeConnection() : Object<_Connection>(IID__Connection) {}
  HRESULT get_ConnectionString(BSTR* out) override { *out = nullptr; return Call("GetConnectionString"); }
  HRESULT put_ConnectionString(BSTR text) override {
    texts.push_back(text ? std::u16string(text) : u"<null>");
    return Call("PutConnectionString");
  }
  HRESULT Open(BSTR cs, BSTR user, BSTR password, LONG options) override {
    for (BSTR t : {cs, user, password}) texts.push_back(t ? std::u16string(t) : u"<null>");
    open_options = options;
    return Call("Open");
  }
  HRESULT Close() override { return Call("Close"); }
  HRESULT get_State(LONG* out) override { *out = state; return Call("State"); }
  HRESULT get_Errors(Errors** out) override {
    *out = nullptr;
    HRESULT hr = Call("Errors");
    if (SUCCEEDED(hr) && errors) {
      errors->AddRef();
      *out = errors;
    }
    return hr;
  }
  HRESULT get_CommandTimeout(LONG* out) override { *out = 30; return Call("GetCommandTimeout"); }
  HRESULT put_CommandTimeout(LONG) override { return Call("PutCommandTimeout"); }

  FakeErrors* errors = nullptr;
  LONG state = 0;
  LONG open_options = -7;
  std::vector<std::u16string> texts;
};

class FakeRecordset : public Object<_Recordset> {
 public:
  FakeRecordset() : Object<_Recordset>(IID__Recordset) { VariantInit(&active); }
  ~FakeRecordset() override { VariantClear(&active); }

  HRESULT get_CursorLocation(LONG* out) override { *out = location; return Call("GetCursorLocation"); }
  HRESULT put_CursorLocation(LONG v) override { location = v; return Call("PutCursorLocation"); }
  HRESULT get_MaxRecords(LONG* out) override { *out = max; return Call("GetMaxRecords"); }
  HRESULT put_MaxRecords(LONG v) override { max = v; return Call("PutMaxRecords"); }
  HRESULT Open(VARIANT, VARIANT, LONG, LONG, LONG) override { return Call("Open"); }
  HRESULT get_State(LONG* out) override { *out = state; return Call("State"); }
  HRESULT get_Status(LONG* out) override { *out = 0; return Call("Status"); }
  HRESULT get_RecordCount(LONG* out) override { *out = 0; return Call("RecordCount"); }
  HRESULT get_EOF(VARIANT_BOOL* out) override { *out = eof; return Call("EOF"); }
  HRESULT get_BOF(VARIANT_BOOL* out) override { *out = 0; return Call("BOF"); }
  HRESULT get_Fields(Fields** out) override {
    *out = nullptr;
    HRESULT hr = Call("Fields");
    if (SUCCEEDED(hr) && fields) {
      fields->AddRef();
      *out = fields;
    }
    return hr;
  }
  HRESULT get_ActiveConnection(VARIANT* out) override {
    VariantInit(out);
    HRESULT hr = Call("ActiveConnection");
    if (SUCCEEDED(hr)) VariantCopy(out, &active);
    return hr;
  }
  HRESULT MoveNext() override { return Call("MoveNext"); }
  HRESULT MoveFirst() override { return Call("MoveFirst"); }
  HRESULT Close() override { return Call("Close"); }

  FakeFields* fields = nullptr;
  VARIANT active;
  LONG location = 0;
  LONG max = 0;
  LONG state = 0;
  VARIANT_BOOL eof = 0;
};

// A recordset whose current record has the given fields.
struct FakeRecord {
  FakeRecordset rs;
  FakeFields fields;
  std::vector<FakeField*> owned;

  FakeRecord() { rs.fields = &fields; }
  ~FakeRecord() {
    for (FakeField* f : owned) delete f;
  }
  FakeField& Add(const std::u16string& name) {
    auto* f = new FakeField;
    f->name = name;
    owned.push_back(f);
    fields.items.push_back(f);
    return *f;
  }
};

}  // namespace fake
