// One wrapper per ADO operation the service calls. Each calls the operation
// and applies the call-and-check rule: a negative HRESULT is thrown as
// _com_error, with the object's error information when it supports it for
// the interface that declares the operation. An empty reference throws
// E_POINTER before any call.
#pragma once

#include "platform/ado/ado.h"
#include "platform/com/comsupp.h"

using ConnectionPtr = _com_ptr_t<_Connection>;
using RecordsetPtr = _com_ptr_t<_Recordset>;
using FieldsPtr = _com_ptr_t<Fields>;
using FieldPtr = _com_ptr_t<Field>;
using ErrorsPtr = _com_ptr_t<Errors>;
using ErrorPtr = _com_ptr_t<Error>;

namespace ado {

// Creation. The Connection by class identifier (CoCreateInstance for
// IUnknown with CLSCTX_ALL, OleRun, then _Connection); throws the failing
// call's code without error information and leaves conn empty.
void CreateConnection(ConnectionPtr& conn);
// The Recordset from the program identifier "ADODB.Recordset" (or a
// "{...}" class identifier). Returns the result: E_NOINTERFACE leaves rs
// empty and is the caller's to accept; the caller raises other failures.
HRESULT CreateRecordset(RecordsetPtr& rs, const char* prog_id = "ADODB.Recordset");

// Connection (failures name Connection15).
void PutConnectionString(const ConnectionPtr& conn, const char* narrow);
void Open(const ConnectionPtr& conn, const char* connection_string, const char* user,
          const char* password, LONG options);
LONG GetState(const ConnectionPtr& conn);
ErrorsPtr GetErrors(const ConnectionPtr& conn);

// Recordset (failures name Recordset15).
void PutCursorLocation(const RecordsetPtr& rs, LONG location);
void PutMaxRecords(const RecordsetPtr& rs, LONG max);
void Open(const RecordsetPtr& rs, const VARIANT& source, const VARIANT& connection,
          LONG cursor_type, LONG lock_type, LONG options);
LONG GetState(const RecordsetPtr& rs);
LONG GetStatus(const RecordsetPtr& rs);
LONG GetRecordCount(const RecordsetPtr& rs);
bool IsEOF(const RecordsetPtr& rs);
FieldsPtr GetFields(const RecordsetPtr& rs);
void MoveNext(const RecordsetPtr& rs);
void Close(const RecordsetPtr& rs);
// The Connection of an open Recordset: ActiveConnection read into a
// VARIANT; an object is asked for _Connection; any other value is converted
// to VT_DISPATCH (then VT_UNKNOWN on E_NOINTERFACE) first. E_NOINTERFACE
// leaves the result empty; other failures throw without error information.
ConnectionPtr GetActiveConnection(const RecordsetPtr& rs);

// Collections (Count names _Collection; Fields.Item Fields15; Errors.Item
// Errors).
LONG GetCount(const FieldsPtr& fields);
FieldPtr GetItem(const FieldsPtr& fields, const VARIANT& index);
LONG GetCount(const ErrorsPtr& errors);
ErrorPtr GetItem(const ErrorsPtr& errors, const VARIANT& index);

// Field (Field20; Status names Field).
_bstr_t GetName(const FieldPtr& field);
// The value, owned by the caller (clear it after use).
void GetValue(const FieldPtr& field, VARIANT* value);
LONG GetType(const FieldPtr& field);
LONG GetActualSize(const FieldPtr& field);
LONG GetAttributes(const FieldPtr& field);
LONG GetStatus(const FieldPtr& field);

// Error (Error).
LONG GetNumber(const ErrorPtr& error);
_bstr_t GetDescription(const ErrorPtr& error);

}  // namespace ado
