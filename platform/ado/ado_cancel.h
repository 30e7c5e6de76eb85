// Stopping the statements of one thread from another thread.
//
// An AdoStatementCancel made on a thread covers the statements that
// Recordset.Open runs on that thread while it lives. Cancel(), called from
// any other thread, interrupts the statement running then with the driver's
// SQLCancel and makes every later one fail at once. Recordset.Open then
// fails with adErrOperationCancelled, and its ODBC connection is closed
// instead of being kept for reuse: the database may still be finishing the
// cancel, which could hit the next statement on that connection.
//
// The driver is interrupted while it executes the statement, which is where
// a statement spends its time with the drivers this layer knows (they read
// the result, or its first block, before SQLExecDirect returns). A statement
// cancelled while its rows are fetched stops before the next fetch.
#pragma once

#include <memory>

namespace zado {
struct CancelState;
}

class AdoStatementCancel {
 public:
  AdoStatementCancel();  // covers the calling thread until destroyed
  ~AdoStatementCancel();
  AdoStatementCancel(const AdoStatementCancel&) = delete;
  AdoStatementCancel& operator=(const AdoStatementCancel&) = delete;

  // Thread-safe; only the first call acts. True when a statement was running
  // (executing or fetching) and is being stopped. Blocks as long as the
  // driver's SQLCancel takes (usually a few milliseconds; a driver that sends
  // the cancel over the network waits for that).
  bool Cancel();
  bool Cancelled() const;

 private:
  std::unique_ptr<zado::CancelState> state_;
  zado::CancelState* previous_;  // of the thread, restored at destruction
};
