#include "platform/ado/connection.h"

#include "platform/ado/odbc_api.h"

#include <mutex>
#include <new>

#include "platform/ado/connection_pool.h"
#include "platform/ado/driver_connect.h"
#include "platform/ado/errors.h"
#include "platform/ado/failure.h"
#include "platform/ado/odbc_environment.h"

namespace zado {
namespace {

constexpr SQLULEN kLoginTimeoutSeconds = 15;

std::u16string FromBstr(BSTR text) {
  return text ? std::u16string(text, SysStringLen(text)) : std::u16string();
}

// Appends "key=value;" with the value braced when it holds characters that
// would end or split it.
void AppendAttribute(std::u16string* out, const char16_t* key, const std::u16string& value) {
  if (!out->empty() && out->back() != u';') out->push_back(u';');
  out->append(key);
  out->push_back(u'=');
  if (value.find_first_of(u";{}= ") == std::u16string::npos) {
    out->append(value);
  } else {
    out->push_back(u'{');
    for (char16_t c : value) {
      out->push_back(c);
      if (c == u'}') out->push_back(u'}');
    }
    out->push_back(u'}');
  }
}

HRESULT ConnFail(HRESULT hr) { return Fail(IID_Connection15, kConnectionSource, hr); }

}  // namespace

AdoConnection::~AdoConnection() { Disconnect(); }

AdoConnection* AdoConnection::FromInterface(IUnknown* object) {
  return dynamic_cast<AdoConnection*>(object);
}

bool AdoConnection::IsOwnInterface(REFIID riid) const {
  return riid == IID__Connection || riid == IID_Connection15;
}

bool AdoConnection::NamesInFailures(REFIID riid) const {
  return riid == IID__Connection || riid == IID_Connection15;
}

HRESULT AdoConnection::get_ConnectionString(BSTR* text) {
  if (!text) return ConnFail(E_POINTER);
  *text = SysAllocStringLen(connection_string_.data(), static_cast<UINT>(connection_string_.size()));
  return *text ? S_OK : ConnFail(E_OUTOFMEMORY);
}

HRESULT AdoConnection::put_ConnectionString(BSTR text) {
  if (IsOpen()) return ConnFail(adErrObjectOpen);
  connection_string_ = FromBstr(text);
  return S_OK;
}

HRESULT AdoConnection::Open(BSTR connection_string, BSTR user_id, BSTR password, LONG options) {
  if (IsOpen()) return ConnFail(adErrObjectOpen);
  if (SysStringLen(connection_string) > 0) connection_string_ = FromBstr(connection_string);
  std::u16string text = connection_string_;
  if (SysStringLen(user_id) > 0) AppendAttribute(&text, u"UID", FromBstr(user_id));
  if (SysStringLen(password) > 0) AppendAttribute(&text, u"PWD", FromBstr(password));
  HRESULT hr = Connect(text);
  if (hr == E_FAIL) return DriverFail(IID_Connection15, kConnectionSource, Diagnostics());
  if (FAILED(hr)) return ConnFail(hr);
  return S_OK;
}

HRESULT AdoConnection::Connect(const std::u16string& text) {
  if (IsOpen()) return adErrObjectOpen;
  SetDiagnostics({});
  if (text.size() > 32767) return adErrInvalidArgument;  // ODBC takes a 16-bit length
  ConnectionPool& pool = ConnectionPool::Process();
  if (pool.Enabled()) {
    const SQLHDBC reused = pool.Take(text, &session_);
    if (reused != SQL_NULL_HDBC) {
      dbc_ = reused;
      pool_key_ = text;
      usage_ = &UsageOf(text);
      usage_->busy.fetch_add(1, std::memory_order_relaxed);
      reused_unproven_ = true;
      broken_ = false;
      return S_OK;
    }
  }
  return ConnectFresh(text);
}

HRESULT AdoConnection::Reconnect() {
  if (!IsOpen()) return adErrObjectClosed;
  const std::u16string text = pool_key_;
  ConnectionPool::Discard(dbc_);
  dbc_ = SQL_NULL_HDBC;
  usage_->busy.fetch_sub(1, std::memory_order_relaxed);
  usage_ = nullptr;
  SetDiagnostics({});
  return ConnectFresh(text);
}

LONG AdoConnection::BeforeStatement(const std::u16string& sql) {
  session_.NoteStatement(sql);
  return session_.HoldTimeout(dbc_, command_timeout_) ? -1 : command_timeout_;
}

void AdoConnection::StatementDone(const DiagList& records) {
  reused_unproven_ = false;
  if (HasConnectionFailure(records)) broken_ = true;
}

HRESULT AdoConnection::ConnectFresh(const std::u16string& text) {
  SQLHENV env = OdbcEnvironment();
  if (env == SQL_NULL_HENV) return E_OUTOFMEMORY;
  // Some drivers switch the process locale with setlocale while they
  // connect, which races with a connect on another thread (seen as a
  // use-after-free inside the PostgreSQL driver); connects take turns.
  static std::mutex connect_mutex;
  std::unique_lock<std::mutex> turn(connect_mutex);
  DiagList records;
  SQLHDBC dbc = SQL_NULL_HDBC;
  const SQLRETURN rc = ConnectDriver(env, text, kLoginTimeoutSeconds, &dbc, &records);
  turn.unlock();
  SetDiagnostics(std::move(records));
  if (!SQL_SUCCEEDED(rc)) return E_FAIL;
  dbc_ = dbc;
  pool_key_ = text;
  reused_unproven_ = false;
  broken_ = false;
  // Read before any statement of a client runs; only the pool needs it.
  session_ = ConnectionPool::Process().Enabled() ? SessionState::AtConnect(dbc) : SessionState();
  usage_ = &UsageOf(text);
  usage_->busy.fetch_add(1, std::memory_order_relaxed);
  usage_->waits.fetch_add(1, std::memory_order_relaxed);
  return S_OK;
}

void AdoConnection::Disconnect() {
  if (dbc_ == SQL_NULL_HDBC) return;
  ConnectionPool& pool = ConnectionPool::Process();
  if (pool.Enabled() && !broken_) {
    pool.Give(pool_key_, dbc_, std::move(session_));
  } else {
    ConnectionPool::Discard(dbc_);
  }
  dbc_ = SQL_NULL_HDBC;
  session_ = SessionState();
  reused_unproven_ = false;
  usage_->busy.fetch_sub(1, std::memory_order_relaxed);
  usage_ = nullptr;
}

HRESULT AdoConnection::Close() {
  if (!IsOpen()) return ConnFail(adErrObjectClosed);
  Disconnect();
  return S_OK;
}

HRESULT AdoConnection::get_State(LONG* state) {
  if (!state) return ConnFail(E_POINTER);
  *state = IsOpen() ? adStateOpen : adStateClosed;
  return S_OK;
}

HRESULT AdoConnection::get_Errors(Errors** errors) {
  if (!errors) return ConnFail(E_POINTER);
  *errors = NewErrors(diagnostics_);
  return *errors ? S_OK : ConnFail(E_OUTOFMEMORY);
}

HRESULT AdoConnection::get_CommandTimeout(LONG* seconds) {
  if (!seconds) return ConnFail(E_POINTER);
  *seconds = command_timeout_;
  return S_OK;
}

HRESULT AdoConnection::put_CommandTimeout(LONG seconds) {
  if (seconds < 0) return ConnFail(adErrInvalidArgument);
  command_timeout_ = seconds;
  return S_OK;
}

void AdoConnection::SetDiagnostics(DiagList records) {
  diagnostics_ = std::make_shared<const DiagList>(std::move(records));
}

}  // namespace zado
