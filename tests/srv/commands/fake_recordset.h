// A Recordset of text rows held in memory, for in-process tests: it counts
// the calls the commands make and can report a record count that is not
// the number of rows it holds.
#pragma once

#include <string>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/com/com.h"

namespace fake {

struct RecordsetScript {
  std::vector<std::string> names;
  std::vector<std::vector<const char*>> rows;  // null: a database null
  LONG reported_count = -1;  // RecordCount; -1: the number of rows
  LONG state_after_open = adStateOpen;
  // What the commands did.
  LONG max_records = -1;  // -1: never set
  int move_next_calls = 0;
  int close_calls = 0;
};
// The script the next Recordset plays (one at a time).
inline RecordsetScript g_script;

template <class I, class Self>
HRESULT AnswerFor(Self* self, REFIID riid, const IID& own, void** out) {
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == own) {
    self->AddRef();
    *out = static_cast<I*>(self);
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

class TextField : public Field, public ComRefCount {
 public:
  TextField(std::string name, const char* value) : name_(std::move(name)), value_(value) {}
  HRESULT QueryInterface(REFIID riid, void** out) override {
    return AnswerFor<Field>(this, riid, IID_Field, out);
  }
  ULONG AddRef() override { return DoAddRef(); }
  ULONG Release() override { return DoRelease(); }
  HRESULT get_Name(BSTR* name) override {
    *name = Bstr(name_);
    return S_OK;
  }
  HRESULT get_Value(VARIANT* value) override {
    VariantInit(value);
    if (!value_) {
      value->vt = VT_NULL;
    } else {
      value->bstrVal = Bstr(value_);
      value->vt = VT_BSTR;
    }
    return S_OK;
  }
  HRESULT get_Type(LONG* type) override {
    *type = adVarWChar;
    return S_OK;
  }
  HRESULT get_ActualSize(LONG* size) override {
    *size = value_ ? static_cast<LONG>(std::string(value_).size()) : 0;
    return S_OK;
  }
  HRESULT get_DefinedSize(LONG* size) override {
    *size = 255;
    return S_OK;
  }
  HRESULT get_Attributes(LONG* attributes) override {
    *attributes = adFldMayBeNull;
    return S_OK;
  }
  HRESULT get_Status(LONG* status) override {
    *status = adFieldOK;
    return S_OK;
  }

 private:
  static BSTR Bstr(const std::string& text) {  // ASCII test texts only
    std::u16string wide(text.begin(), text.end());
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  }
  std::string name_;
  const char* value_;
};

class TextFields : public Fields, public ComRefCount {
 public:
  explicit TextFields(size_t row) : row_(row) {}
  HRESULT QueryInterface(REFIID riid, void** out) override {
    return AnswerFor<Fields>(this, riid, IID_Fields, out);
  }
  ULONG AddRef() override { return DoAddRef(); }
  ULONG Release() override { return DoRelease(); }
  HRESULT get_Count(LONG* count) override {
    *count = static_cast<LONG>(g_script.names.size());
    return S_OK;
  }
  HRESULT get_Item(VARIANT index, Field** item) override {
    const LONG i = index.vt == VT_I2 ? index.iVal : index.vt == VT_I4 ? index.lVal : -1;
    if (i < 0 || static_cast<size_t>(i) >= g_script.names.size()) return adErrItemNotFound;
    if (row_ >= g_script.rows.size()) return adErrNoCurrentRecord;
    *item = new TextField(g_script.names[i], g_script.rows[row_][i]);
    return S_OK;
  }

 private:
  size_t row_;
};

class TextRecordset : public _Recordset, public ComRefCount {
 public:
  HRESULT QueryInterface(REFIID riid, void** out) override {
    return AnswerFor<_Recordset>(this, riid, IID__Recordset, out);
  }
  ULONG AddRef() override { return DoAddRef(); }
  ULONG Release() override { return DoRelease(); }
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
    *count = g_script.reported_count >= 0 ? g_script.reported_count
                                          : static_cast<LONG>(g_script.rows.size());
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
  HRESULT get_Fields(Fields** fields) override {
    if (state_ == adStateClosed) return adErrObjectClosed;
    *fields = new TextFields(row_);
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
  LONG state_ = adStateClosed;
  size_t row_ = 0;
};

}  // namespace fake
