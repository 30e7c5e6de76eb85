// Connection object: one ODBC connection opened from a connection string.
#pragma once

#include "platform/ado/odbc_api.h"

#include <string>

#include "platform/ado/ado.h"
#include "platform/ado/ado_settings.h"
#include "platform/ado/diagnostics.h"
#include "platform/ado/dispatch_object.h"
#include "platform/ado/session_reset.h"
#include "platform/ado/pool_usage.h"

namespace zado {

class AdoConnection final : public DispatchObject<_Connection> {
 public:
  AdoConnection() = default;
  ~AdoConnection() override;

  // The connection behind an interface of one of our Connection objects;
  // null for anything else.
  static AdoConnection* FromInterface(IUnknown* object);

  HRESULT get_ConnectionString(BSTR* text) override;
  HRESULT put_ConnectionString(BSTR text) override;
  HRESULT Open(BSTR connection_string, BSTR user_id, BSTR password, LONG options) override;
  HRESULT Close() override;
  HRESULT get_State(LONG* state) override;
  HRESULT get_Errors(Errors** errors) override;
  HRESULT get_CommandTimeout(LONG* seconds) override;
  HRESULT put_CommandTimeout(LONG seconds) override;

  // Opens the ODBC connection from text without touching the thread's error
  // information; the diagnostics go into Errors. E_FAIL when the driver
  // refuses, E_OUTOFMEMORY when no handle can be made.
  // With pooling on, an idle pooled connection opened from the same text is
  // taken instead when there is one.
  HRESULT Connect(const std::u16string& text);
  // True while the ODBC connection came from the pool and no statement has
  // yet shown it to be alive.
  bool ReusedUnproven() const { return reused_unproven_; }
  // Drops the ODBC connection (it is not pooled again) and opens a fresh one
  // from the same text, bypassing the pool.
  HRESULT Reconnect();
  // Readies the connection for sql, about to run: notes it for the reset of
  // the session before the connection serves another request, and puts the
  // command time-out in the session where the driver keeps it there. The
  // time limit the statement itself is to get (below 0: none, the session
  // holds it).
  LONG BeforeStatement(const std::u16string& sql);
  // Records how a statement ended: a connection failure (SQLSTATE 08xxx)
  // keeps the connection out of the pool.
  void StatementDone(const DiagList& records);
  // A statement on the connection was cancelled: the database may still be
  // acting on the cancel, so the connection is closed, never reused.
  void StatementCancelled() { broken_ = true; }
  bool IsOpen() const { return dbc_ != SQL_NULL_HDBC; }
  SQLHDBC Handle() const { return dbc_; }
  LONG CommandTimeout() const { return command_timeout_; }
  // Replaces the contents of Errors.
  void SetDiagnostics(DiagList records);
  const DiagList& Diagnostics() const { return *diagnostics_; }

 protected:
  bool IsOwnInterface(REFIID riid) const override;
  bool NamesInFailures(REFIID riid) const override;

 private:
  void Disconnect();
  HRESULT ConnectFresh(const std::u16string& text);

  std::u16string connection_string_;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  std::u16string pool_key_;        // the text the open ODBC connection was made from
  bool reused_unproven_ = false;
  bool broken_ = false;            // a statement saw the connection fail
  SessionState session_;           // what the pool needs to reset the session
  UsageCounts* usage_ = nullptr;   // of the data source, while connected
  LONG command_timeout_ = DefaultCommandTimeout();
  SharedDiagList diagnostics_ = std::make_shared<const DiagList>();
};

}  // namespace zado
