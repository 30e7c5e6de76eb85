#include "platform/ado/recordset.h"

#include <climits>
#include <cstdint>
#include <new>
#include <string>

#include "platform/ado/connection_pool.h"
#include "platform/ado/failure.h"
#include "platform/ado/fields.h"
#include "platform/ado/statement.h"
#include "platform/ado/statement_cancel.h"

namespace zado {
namespace {

HRESULT RsFail(HRESULT hr, const char16_t* description = nullptr) {
  return Fail(IID_Recordset15, kRecordsetSource, hr, description);
}

}  // namespace

bool AdoRecordset::IsOwnInterface(REFIID riid) const {
  return riid == IID__Recordset || riid == IID_Recordset15;
}

bool AdoRecordset::NamesInFailures(REFIID riid) const {
  return riid == IID__Recordset || riid == IID_Recordset15;
}

HRESULT AdoRecordset::get_CursorLocation(LONG* location) {
  if (!location) return RsFail(E_POINTER);
  *location = cursor_location_;
  return S_OK;
}

// Both locations behave alike: the rows are always read and held on the
// client, which is what the callers of this layer rely on.
HRESULT AdoRecordset::put_CursorLocation(LONG location) {
  if (location != adUseServer && location != adUseClient) return RsFail(adErrInvalidArgument);
  if (IsOpen()) return RsFail(adErrObjectOpen);
  cursor_location_ = location;
  return S_OK;
}

HRESULT AdoRecordset::get_MaxRecords(LONG* max) {
  if (!max) return RsFail(E_POINTER);
  *max = max_records_;
  return S_OK;
}

HRESULT AdoRecordset::put_MaxRecords(LONG max) {
  if (max < 0) return RsFail(adErrInvalidArgument);
  if (IsOpen()) return RsFail(adErrObjectOpen);
  max_records_ = max;
  return S_OK;
}

HRESULT AdoRecordset::ResolveConnection(const VARIANT& active_connection, Ref<AdoConnection>* out) {
  if (active_connection.vt == VT_BSTR) {
    Ref<AdoConnection> connection(new (std::nothrow) AdoConnection());
    if (!connection) return RsFail(E_OUTOFMEMORY);
    BSTR text = active_connection.bstrVal;
    const HRESULT hr = connection->Connect(text ? std::u16string(text, SysStringLen(text)) : std::u16string());
    // Kept even when the connect failed, so ActiveConnection shows its Errors.
    connection_ = connection;
    owns_connection_ = true;
    if (hr == E_FAIL) return DriverFail(IID_Recordset15, kRecordsetSource, connection->Diagnostics());
    if (FAILED(hr)) return RsFail(hr);
    *out = connection;
    return S_OK;
  }
  if (active_connection.vt == VT_DISPATCH || active_connection.vt == VT_UNKNOWN) {
    AdoConnection* connection = active_connection.punkVal ? AdoConnection::FromInterface(active_connection.punkVal)
                                                          : nullptr;
    if (!connection || !connection->IsOpen()) return RsFail(adErrInvalidConnection);
    connection->AddRef();
    *out = Ref<AdoConnection>(connection);
    connection_ = *out;
    owns_connection_ = false;
    return S_OK;
  }
  return RsFail(adErrInvalidConnection);
}

HRESULT AdoRecordset::Open(VARIANT source, VARIANT active_connection, LONG cursor_type, LONG lock_type,
                           LONG options) {
  // Cursor type, lock type and options are hints; every recordset here is a
  // static, read-only copy of the rows.
  if (IsOpen()) return RsFail(adErrObjectOpen);
  if (source.vt != VT_BSTR || SysStringLen(source.bstrVal) == 0)
    return RsFail(adErrInvalidArgument, u"The source of a recordset must be a non-empty SQL text.");
  if (owns_connection_ && connection_ && connection_->IsOpen()) connection_->Close();
  connection_ = Ref<AdoConnection>();
  owns_connection_ = false;

  Ref<AdoConnection> connection;
  HRESULT hr = ResolveConnection(active_connection, &connection);
  if (FAILED(hr)) return hr;

  try {
    // MaxRecords bounds a result by itself; the text limit bounds the others.
    const uint64_t text_limit = max_records_ > 0 ? 0 : AdoGetResultLimits().max_text_bytes;
    auto rows = std::make_unique<RowStore>();
    rows->SetTextLimit(text_limit);
    const std::u16string sql(source.bstrVal, SysStringLen(source.bstrVal));
    StatementResult result =
        RunStatement(connection->Handle(), sql, connection->BeforeStatement(sql), max_records_, rows.get());
    if (!result.ok && !StatementsCancelled() && connection->ReusedUnproven() &&
        (HasConnectionFailure(result.diagnostics) || ConnectionDead(connection->Handle()))) {
      // A pooled connection died while it lay idle (the server restarted,
      // a network cut): the statement never ran, so run it once more on a
      // fresh connection.
      const HRESULT reconnected = connection->Reconnect();
      if (reconnected == E_FAIL) return DriverFail(IID_Recordset15, kRecordsetSource, connection->Diagnostics());
      if (FAILED(reconnected)) return RsFail(reconnected);
      rows = std::make_unique<RowStore>();
      rows->SetTextLimit(text_limit);
      result = RunStatement(connection->Handle(), sql, connection->BeforeStatement(sql), max_records_, rows.get());
    }
    connection->StatementDone(result.diagnostics);
    connection->SetDiagnostics(result.diagnostics);
    if (StatementsCancelled()) {
      // Whatever the statement gave, nobody wants it.
      connection->StatementCancelled();
      if (owns_connection_) connection->Close();
      return RsFail(adErrOperationCancelled);
    }
    if (result.out_of_memory) return RsFail(E_OUTOFMEMORY);
    if (result.too_large) {
      rows.reset();  // the rows read so far go at once
      const std::string limit = std::to_string(text_limit);
      return RsFail(kAdoResultTooLarge, (u"The result is larger than the limit of " +
                                         std::u16string(limit.begin(), limit.end()) +
                                         u" bytes set for results.").c_str());
    }
    if (!result.ok) return DriverFail(IID_Recordset15, kRecordsetSource, result.diagnostics);
    if (!result.has_result_set) {
      // The statement ran and left nothing to hold; a connection of our own
      // is not needed any more (its Errors stay readable).
      if (owns_connection_) connection->Close();
      return S_OK;
    }
    auto cursor = std::make_shared<Cursor>();
    cursor->rows = std::move(rows);
    cursor_ = std::move(cursor);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return RsFail(E_OUTOFMEMORY);
  }
}

HRESULT AdoRecordset::get_State(LONG* state) {
  if (!state) return RsFail(E_POINTER);
  *state = IsOpen() ? adStateOpen : adStateClosed;
  return S_OK;
}

// Rows are never changed here, so every held record is unchanged; an empty
// recordset or the EOF position answers the same.
HRESULT AdoRecordset::get_Status(LONG* status) {
  if (!status) return RsFail(E_POINTER);
  if (!IsOpen()) return RsFail(adErrObjectClosed);
  *status = adRecOK;
  return S_OK;
}

HRESULT AdoRecordset::get_RecordCount(LONG* count) {
  if (!count) return RsFail(E_POINTER);
  if (!IsOpen()) return RsFail(adErrObjectClosed);
  const size_t n = cursor_->rows->RowCount();
  *count = n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<LONG>(n);
  return S_OK;
}

HRESULT AdoRecordset::get_EOF(VARIANT_BOOL* eof) {
  if (!eof) return RsFail(E_POINTER);
  if (!IsOpen()) return RsFail(adErrObjectClosed);
  *eof = cursor_->position >= cursor_->rows->RowCount() ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

// There is no moving backwards, so BOF is only true for an empty recordset.
HRESULT AdoRecordset::get_BOF(VARIANT_BOOL* bof) {
  if (!bof) return RsFail(E_POINTER);
  if (!IsOpen()) return RsFail(adErrObjectClosed);
  *bof = cursor_->rows->RowCount() == 0 ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT AdoRecordset::get_Fields(Fields** fields) {
  if (!fields) return RsFail(E_POINTER);
  *fields = nullptr;
  if (!IsOpen()) return RsFail(adErrObjectClosed);
  if (!fields_) {
    fields_ = Ref<Fields>(NewFields(cursor_));
    if (!fields_) return RsFail(E_OUTOFMEMORY);
  }
  *fields = fields_.AddRefed();
  return S_OK;
}

HRESULT AdoRecordset::get_ActiveConnection(VARIANT* connection) {
  if (!connection) return RsFail(E_POINTER);
  VariantInit(connection);
  if (connection_) {
    connection->vt = VT_DISPATCH;
    connection->pdispVal = connection_.AddRefed();
  }
  return S_OK;
}

HRESULT AdoRecordset::MoveNext() {
  if (!IsOpen()) return RsFail(adErrObjectClosed);
  if (cursor_->position >= cursor_->rows->RowCount()) return RsFail(adErrNoCurrentRecord);
  ++cursor_->position;
  if (AdoGetResultLimits().forward_only) cursor_->rows->ReleaseBefore(cursor_->position);
  return S_OK;
}

HRESULT AdoRecordset::MoveFirst() {
  if (!IsOpen()) return RsFail(adErrObjectClosed);
  if (AdoGetResultLimits().forward_only) return RsFail(adErrFeatureNotAvailable);
  cursor_->position = 0;
  return S_OK;
}

void AdoRecordset::EndOpening() {
  if (cursor_) cursor_->rows.reset();
  cursor_.reset();
  fields_ = Ref<Fields>();
}

HRESULT AdoRecordset::Close() {
  if (!IsOpen()) return RsFail(adErrObjectClosed);
  EndOpening();
  // A connection this recordset opened for itself ends with it.
  if (owns_connection_ && connection_ && connection_->IsOpen()) connection_->Close();
  return S_OK;
}

}  // namespace zado
