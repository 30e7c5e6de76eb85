// A Recordset of text rows held in memory, made by the class factory in
// place of the real one: it plays g_script, counts the calls the code under
// test makes and can report a record count that is not the number of rows
// it holds.
#pragma once

#include <string>
#include <vector>

#include "tests/support/fake_ado/fields.h"
#include "tests/support/fake_ado/object.h"

namespace fake {

struct RecordsetScript {
  std::vector<std::string> names;
  std::vector<std::vector<const char*>> rows;  // null: a database null
  LONG reported_count = -1;  // RecordCount; -1: the number of rows
  LONG state_after_open = adStateOpen;
  // What the code under test did.
  LONG max_records = -1;  // -1: never set
  int move_next_calls = 0;
  int close_calls = 0;
};
// The script the next Recordset plays (one at a time).
inline RecordsetScript g_script;

class ScriptedRecordset : public Object<_Recordset> {
 public:
  ScriptedRecordset() : Object<_Recordset>(IID__Recordset, Lifetime::kSelfDeleting) {}

  HRESULT get_CursorLocation(LONG* location) override {
    *location = adUseClient;
    return S_OK;
  }
  HRESULT put_CursorLocation(LONG) override { return S_OK; }
  HRESULT get_MaxRecords(LONG* max) override {
    *max = g_script.max_records;
    return S_OK;
  }
  HRESULT put_MaxRecords(LONG max) override {
    g_script.max_records = max;
    return S_OK;
  }
  HRESULT Open(VARIANT source, VARIANT connection, LONG, LONG, LONG) override {
    if (source.vt != VT_BSTR || connection.vt != VT_BSTR) return adErrInvalidArgument;
    state_ = g_script.state_after_open;
    return S_OK;
  }
  HRESULT get_State(LONG* state) override {
    *state = state_;
    return S_OK;
  }
  HRESULT get_Status(LONG* status) override {
    if (state_ == adStateClosed) return adErrObjectClosed;
    *status = adRecOK;
    return S_OK;
  }
  HRESULT get_RecordCount(LONG* count) override {
    if (state_ == adStateClosed) return adErrObjectClosed;
    *count = g_script.reported_count >= 0 ? g_script.reported_count : static_cast<LONG>(g_script.rows.size());
    return S_OK;
  }
  HRESULT get_EOF(VARIANT_BOOL* eof) override {
    *eof = row_ >= g_script.rows.size() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT get_BOF(VARIANT_BOOL* bof) override {
    *bof = VARIANT_FALSE;
    return S_OK;
  }
  // The fields of the current record: nullable texts of up to 255 characters.
  HRESULT get_Fields(Fields** out) override {
    if (state_ == adStateClosed) return adErrObjectClosed;
    auto* fields = new FakeFields(Lifetime::kSelfDeleting);
    const bool current = row_ < g_script.rows.size();
    if (!current) fields->item_error = adErrNoCurrentRecord;
    for (size_t i = 0; i < g_script.names.size(); ++i) {
      auto* field = new FakeField(Lifetime::kSelfDeleting);
      field->name = Wide(g_script.names[i]);
      const char* text = current ? g_script.rows[row_][i] : nullptr;
      if (text) {
        field->SetText(Wide(text));
        field->size = static_cast<LONG>(std::string(text).size());
      } else {
        field->SetNull();
      }
      field->type = adVarWChar;
      field->defined_size = 255;
      field->attributes = adFldMayBeNull;
      field->status = adFieldOK;
      fields->Add(field);
    }
    *out = fields;  // the creator's reference goes to the caller
    return S_OK;
  }
  HRESULT get_ActiveConnection(VARIANT* connection) override {
    VariantInit(connection);
    connection->vt = VT_DISPATCH;
    connection->pdispVal = nullptr;  // no connection to list errors of
    return S_OK;
  }
  HRESULT MoveNext() override {
    ++g_script.move_next_calls;
    if (row_ >= g_script.rows.size()) return adErrNoCurrentRecord;
    ++row_;
    return S_OK;
  }
  HRESULT MoveFirst() override {
    row_ = 0;
    return S_OK;
  }
  HRESULT Close() override {
    ++g_script.close_calls;
    if (state_ == adStateClosed) return adErrObjectClosed;
    state_ = adStateClosed;
    return S_OK;
  }

 private:
  static std::u16string Wide(const std::string& text) {  // ASCII test texts only
    return std::u16string(text.begin(), text.end());
  }
  LONG state_ = adStateClosed;
  size_t row_ = 0;
};

}  // namespace fake
