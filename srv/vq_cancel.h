// Stops the database statements of a request nobody waits for any more.
// The middleware tells when the client has left or the drain time has run
// out (ZRM_CancelWatch); the data-object layer cancels the statement the
// request's thread runs (AdoStatementCancel). Neither layer knows the other:
// they meet here, for the life of one request operation.
#pragma once

#include "platform/ado/ado.h"
#include "platform/middleware/zrm.h"

class VQ_StatementCancel {
 public:
  VQ_StatementCancel();
  VQ_StatementCancel(const VQ_StatementCancel&) = delete;
  VQ_StatementCancel& operator=(const VQ_StatementCancel&) = delete;

 private:
  AdoStatementCancel statements_;
  ZRM_CancelWatch watch_;  // goes first: no call reaches statements_ after
};
