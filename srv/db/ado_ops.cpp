#include "srv/db/ado_ops.h"

#include <memory>
#include <string>

#include "platform/com/comsupp.h"
#include "srv/db/convert.h"

namespace {

// The call-and-check rule for one operation of object, declared by iid.
inline void Check(HRESULT hr, IUnknown* object, REFIID iid) {
  if (FAILED(hr)) _com_issue_errorex(hr, object, iid);
}

struct BstrFree {
  void operator()(OLECHAR* text) const { SysFreeString(text); }
};
using ScopedBstr = std::unique_ptr<OLECHAR, BstrFree>;

// The class context asks for local and remote servers too (bits 0x14), so
// a new object is put into the running state before it is asked for the
// wanted interface. The IUnknown is released whatever happens.
HRESULT CreateAs(REFCLSID clsid, REFIID iid, void** out) {
  *out = nullptr;
  IUnknown* object = nullptr;
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown,
                                reinterpret_cast<void**>(&object));
  if (FAILED(hr)) return hr;
  if (!object) return E_POINTER;
  if (CLSCTX_ALL & (CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)) {
    hr = OleRun(object);
    if (SUCCEEDED(hr)) hr = object->QueryInterface(iid, out);
  } else {
    hr = object->QueryInterface(iid, out);
  }
  object->Release();
  if (FAILED(hr)) *out = nullptr;
  return hr;
}

// Asks object (which may be null) for _Connection.
HRESULT QueryConnection(IUnknown* object, ConnectionPtr& conn) {
  if (!object) return E_NOINTERFACE;
  return object->QueryInterface(IID__Connection, reinterpret_cast<void**>(conn.ReceiveAddress()));
}

}  // namespace

namespace ado {

void CreateConnection(ConnectionPtr& conn) {
  conn.Release();
  _Connection* made = nullptr;
  const HRESULT hr = CreateAs(CLSID_Connection, IID__Connection, reinterpret_cast<void**>(&made));
  if (FAILED(hr)) _com_issue_error(hr);
  conn = ConnectionPtr(made, false);
}

HRESULT CreateRecordset(RecordsetPtr& rs, const char* prog_id) {
  rs.Release();
  if (!prog_id) return E_INVALIDARG;
  const int units = MultiByteToWideChar(CP_ACP, 0, prog_id, -1, nullptr, 0);
  if (units <= 0) return LastErrorResult();
  std::u16string wide(static_cast<size_t>(units), u'\0');
  if (MultiByteToWideChar(CP_ACP, 0, prog_id, -1, wide.data(), units) <= 0) return LastErrorResult();

  CLSID clsid{};
  HRESULT hr = wide[0] == u'{' ? CLSIDFromString(wide.c_str(), &clsid)
                               : CLSIDFromProgID(wide.c_str(), &clsid);
  if (FAILED(hr)) return hr;
  _Recordset* made = nullptr;
  hr = CreateAs(clsid, IID__Recordset, reinterpret_cast<void**>(&made));
  if (SUCCEEDED(hr)) rs = RecordsetPtr(made, false);
  return hr;
}

// --- Connection -----------------------------------------------------------

void PutConnectionString(const ConnectionPtr& conn, const char* narrow) {
  _Connection* c = conn.operator->();
  ScopedBstr text(NarrowToBstr(narrow));
  Check(c->put_ConnectionString(text.get()), c, IID_Connection15);
}

void Open(const ConnectionPtr& conn, const char* connection_string, const char* user,
          const char* password, LONG options) {
  _Connection* c = conn.operator->();
  ScopedBstr cs(NarrowToBstr(connection_string));
  ScopedBstr uid(NarrowToBstr(user));
  ScopedBstr pwd(NarrowToBstr(password));
  Check(c->Open(cs.get(), uid.get(), pwd.get(), options), c, IID_Connection15);
}

LONG GetState(const ConnectionPtr& conn) {
  _Connection* c = conn.operator->();
  LONG state = 0;
  Check(c->get_State(&state), c, IID_Connection15);
  return state;
}

ErrorsPtr GetErrors(const ConnectionPtr& conn) {
  _Connection* c = conn.operator->();
  Errors* errors = nullptr;
  const HRESULT hr = c->get_Errors(&errors);
  ErrorsPtr result(errors, false);  // owned before the check, so nothing leaks
  Check(hr, c, IID_Connection15);
  return result;
}

// --- Recordset ------------------------------------------------------------

void PutCursorLocation(const RecordsetPtr& rs, LONG location) {
  _Recordset* r = rs.operator->();
  Check(r->put_CursorLocation(location), r, IID_Recordset15);
}

void PutMaxRecords(const RecordsetPtr& rs, LONG max) {
  _Recordset* r = rs.operator->();
  Check(r->put_MaxRecords(max), r, IID_Recordset15);
}

void Open(const RecordsetPtr& rs, const VARIANT& source, const VARIANT& connection,
          LONG cursor_type, LONG lock_type, LONG options) {
  _Recordset* r = rs.operator->();
  Check(r->Open(source, connection, cursor_type, lock_type, options), r, IID_Recordset15);
}

LONG GetState(const RecordsetPtr& rs) {
  _Recordset* r = rs.operator->();
  LONG state = 0;
  Check(r->get_State(&state), r, IID_Recordset15);
  return state;
}

LONG GetStatus(const RecordsetPtr& rs) {
  _Recordset* r = rs.operator->();
  LONG status = 0;
  Check(r->get_Status(&status), r, IID_Recordset15);
  return status;
}

LONG GetRecordCount(const RecordsetPtr& rs) {
  _Recordset* r = rs.operator->();
  LONG count = 0;
  Check(r->get_RecordCount(&count), r, IID_Recordset15);
  return count;
}

bool IsEOF(const RecordsetPtr& rs) {
  _Recordset* r = rs.operator->();
  VARIANT_BOOL eof = VARIANT_FALSE;
  Check(r->get_EOF(&eof), r, IID_Recordset15);
  return eof != 0;
}

FieldsPtr GetFields(const RecordsetPtr& rs) {
  _Recordset* r = rs.operator->();
  Fields* fields = nullptr;
  const HRESULT hr = r->get_Fields(&fields);
  FieldsPtr result(fields, false);
  Check(hr, r, IID_Recordset15);
  return result;
}

void MoveNext(const RecordsetPtr& rs) {
  _Recordset* r = rs.operator->();
  Check(r->MoveNext(), r, IID_Recordset15);
}

void Close(const RecordsetPtr& rs) {
  _Recordset* r = rs.operator->();
  Check(r->Close(), r, IID_Recordset15);
}

ConnectionPtr GetActiveConnection(const RecordsetPtr& rs) {
  _Recordset* r = rs.operator->();
  _variant_t value;
  Check(r->get_ActiveConnection(&value), r, IID_Recordset15);

  ConnectionPtr conn;
  HRESULT hr;
  if (value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN) {
    hr = QueryConnection(value.vt == VT_DISPATCH ? value.pdispVal : value.punkVal, conn);
  } else {
    _variant_t object;
    hr = VariantChangeType(&object, &value, 0, VT_DISPATCH);
    if (SUCCEEDED(hr)) hr = QueryConnection(object.pdispVal, conn);
    if (hr == E_NOINTERFACE) {
      object.Clear();
      hr = VariantChangeType(&object, &value, 0, VT_UNKNOWN);
      if (SUCCEEDED(hr)) hr = QueryConnection(object.punkVal, conn);
    }
  }
  if (FAILED(hr)) {
    conn.Release();
    if (hr != E_NOINTERFACE) _com_issue_error(hr);
  }
  return conn;
}

// --- Collections ----------------------------------------------------------

LONG GetCount(const FieldsPtr& fields) {
  Fields* f = fields.operator->();
  LONG count = 0;
  Check(f->get_Count(&count), f, IID__Collection);
  return count;
}

FieldPtr GetItem(const FieldsPtr& fields, const VARIANT& index) {
  Fields* f = fields.operator->();
  Field* item = nullptr;
  const HRESULT hr = f->get_Item(index, &item);
  FieldPtr result(item, false);
  Check(hr, f, IID_Fields15);
  return result;
}

LONG GetCount(const ErrorsPtr& errors) {
  Errors* e = errors.operator->();
  LONG count = 0;
  Check(e->get_Count(&count), e, IID__Collection);
  return count;
}

ErrorPtr GetItem(const ErrorsPtr& errors, const VARIANT& index) {
  Errors* e = errors.operator->();
  Error* item = nullptr;
  const HRESULT hr = e->get_Item(index, &item);
  ErrorPtr result(item, false);
  Check(hr, e, IID_Errors);
  return result;
}

// --- Field ----------------------------------------------------------------

_bstr_t GetName(const FieldPtr& field) {
  Field* f = field.operator->();
  BSTR name = nullptr;
  const HRESULT hr = f->get_Name(&name);
  _bstr_t result(name, false);
  Check(hr, f, IID_Field20);
  return result;
}

void GetValue(const FieldPtr& field, VARIANT* value) {
  Field* f = field.operator->();
  Check(f->get_Value(value), f, IID_Field20);
}

LONG GetType(const FieldPtr& field) {
  Field* f = field.operator->();
  LONG type = 0;
  Check(f->get_Type(&type), f, IID_Field20);
  return type;
}

LONG GetActualSize(const FieldPtr& field) {
  Field* f = field.operator->();
  LONG size = 0;
  Check(f->get_ActualSize(&size), f, IID_Field20);
  return size;
}

LONG GetAttributes(const FieldPtr& field) {
  Field* f = field.operator->();
  LONG attributes = 0;
  Check(f->get_Attributes(&attributes), f, IID_Field20);
  return attributes;
}

LONG GetStatus(const FieldPtr& field) {
  Field* f = field.operator->();
  LONG status = 0;
  Check(f->get_Status(&status), f, IID_Field);
  return status;
}

// --- Error ----------------------------------------------------------------

LONG GetNumber(const ErrorPtr& error) {
  Error* e = error.operator->();
  LONG number = 0;
  Check(e->get_Number(&number), e, IID_Error);
  return number;
}

_bstr_t GetDescription(const ErrorPtr& error) {
  Error* e = error.operator->();
  BSTR text = nullptr;
  const HRESULT hr = e->get_Description(&text);
  _bstr_t result(text, false);
  Check(hr, e, IID_Error);
  return result;
}

}  // namespace ado
