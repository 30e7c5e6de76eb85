// Recordset object: runs a statement and holds all rows of its first result
// set on the client; a current-record position walks them.
#pragma once

#include <memory>

#include "platform/ado/ado.h"
#include "platform/ado/connection.h"
#include "platform/ado/dispatch_object.h"
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

  // For Fields and Field: the held rows (null while closed) and the current
  // position (RowCount() of the rows when at EOF).
  const RowStore* Rows() const { return rows_.get(); }
  size_t Position() const { return position_; }
  // Changes with every Open and Close, so Fields and Field objects of an
  // earlier opening see the recordset as closed.
  uint64_t Generation() const { return generation_; }

 protected:
  bool IsOwnInterface(REFIID riid) const override;
  bool NamesInFailures(REFIID riid) const override;

 private:
  HRESULT ResolveConnection(const VARIANT& active_connection, Ref<AdoConnection>* out);
  bool IsOpen() const { return rows_ != nullptr; }

  LONG cursor_location_ = adUseServer;
  LONG max_records_ = 0;
  Ref<AdoConnection> connection_;
  bool owns_connection_ = false;  // opened from a connection string by Open
  std::unique_ptr<RowStore> rows_;
  size_t position_ = 0;
  uint64_t generation_ = 0;
};

}  // namespace zado
