// A stand-in for Recordset whose answers the test sets field by field, and
// a record (a recordset with its fields) built on it.
#pragma once

#include <string>
#include <vector>

#include "tests/support/fake_ado/fields.h"
#include "tests/support/fake_ado/object.h"

namespace fake {

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
