// How statements reach the thread's AdoStatementCancel (ado.h): a
// statement is registered while it runs, its execution is a window in which
// another thread may interrupt the driver with SQLCancel, and every fetch
// first checks that the statements are not cancelled. SQLCancel is never sent
// while the driver fetches or sits between calls: the PostgreSQL driver then
// ignores it, and the SQLite and MariaDB drivers close the cursor under the
// thread that uses it and corrupt memory.
// Without an AdoStatementCancel on the thread all of this does nothing.
#pragma once

#include "platform/ado/odbc_api.h"

#include <atomic>
#include <mutex>

namespace zado {

struct CancelState {
  std::mutex mutex;                      // guards what follows but `cancelled` reads
  std::atomic<bool> cancelled{false};    // written under the mutex
  int running = 0;                       // statements registered
  SQLHSTMT executing = SQL_NULL_HSTMT;   // set inside an ExecuteWindow
};

// True when the calling thread's statements are cancelled.
bool StatementsCancelled();

// Registers a statement of the calling thread for the life of the scope.
class RunningStatement {
 public:
  RunningStatement();
  ~RunningStatement();
  RunningStatement(const RunningStatement&) = delete;
  RunningStatement& operator=(const RunningStatement&) = delete;

 private:
  CancelState* state_;
};

// The driver executes stmt (SQLExecDirect) inside the scope. Refused() when
// the statements are cancelled already: the statement must not be run.
class ExecuteWindow {
 public:
  explicit ExecuteWindow(SQLHSTMT stmt);
  ~ExecuteWindow();
  ExecuteWindow(const ExecuteWindow&) = delete;
  ExecuteWindow& operator=(const ExecuteWindow&) = delete;
  bool Refused() const { return refused_; }

 private:
  CancelState* state_;  // null when nothing is registered
  bool refused_ = false;
};

// SQLFetch, or SQL_ERROR without a call when the statements are cancelled.
inline SQLRETURN CancellableFetch(SQLHSTMT stmt) { return StatementsCancelled() ? SQL_ERROR : SQLFetch(stmt); }

}  // namespace zado
