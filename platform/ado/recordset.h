// Recordset object: runs a statement and holds all rows of its first result
// set on the client; a current-record position walks them.
#pragma once

#include <memory>

#include "platform/ado/ado.h"
#include "platform/ado/connection.h"
#include "platform/ado/dispatch_object.h"
#include "platform/ado/fields.h"
#include "platform/ado/row_store.h"

namespace zado {

class AdoRecordset final : public DispatchObject<_Recordset> {
 public:
  HRESULT get_CursorLocation(LONG* location) override;
  HRESULT put_CursorLocation(LONG location) override;
  HRESULT get_MaxRecords(LONG* max) override;
  HRESULT put_MaxRecords(LONG max) override;
  HRESULT Open(VARIANT source, VARIANT active_connection, LONG cursor_type, LONG lock_type,
               LONG options) override;
  HRESULT get_State(LONG* state) override;
  HRESULT get_Status(LONG* status) override;
  HRESULT get_RecordCount(LONG* count) override;
  HRESULT get_EOF(VARIANT_BOOL* eof) override;
  HRESULT get_BOF(VARIANT_BOOL* bof) override;
  HRESULT get_Fields(Fields** fields) override;
  HRESULT get_ActiveConnection(VARIANT* connection) override;
  HRESULT MoveNext() override;
  HRESULT MoveFirst() override;
  HRESULT Close() override;

 protected:
  bool IsOwnInterface(REFIID riid) const override;
  bool NamesInFailures(REFIID riid) const override;

 private:
  HRESULT ResolveConnection(const VARIANT& active_connection, Ref<AdoConnection>* out);
  bool IsOpen() const { return cursor_ != nullptr; }
  // Ends the current opening: its Fields and Field objects see it closed
  // and its rows are freed.
  void EndOpening();

  LONG cursor_location_ = adUseServer;
  LONG max_records_ = 0;
  Ref<AdoConnection> connection_;
  bool owns_connection_ = false;  // opened from a connection string by Open
  // The rows and position of the current opening, shared with its Fields
  // and Field objects (which do not hold the recordset, so the recordset can
  // keep its one Fields object without a reference cycle).
  std::shared_ptr<Cursor> cursor_;
  Ref<Fields> fields_;  // made at the first Fields call of an opening
};

}  // namespace zado
