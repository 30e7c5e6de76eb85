// The service's own families in GET /metrics:
//   vqsrv_statements_cancelled_total{reason="client_gone"|"shutdown"}
//     statements stopped because nobody waited for them any more
//   vqsrv_db_pool_connections{dsn,state="idle"|"busy"}
//     ODBC connections kept for reuse, and held by running requests
//   vqsrv_db_pool_waits_total{dsn}
//     times a request found no idle connection and waited for a new one
// The pool families carry a dsn label for each name of VQ_DSNS when it is
// set. Without it any name may come, and label values must stay few: then
// they are one total without the label.
#pragma once

#include <string>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/middleware/zrm.h"
#include "srv/dsn_policy.h"

// Adds the families to the middleware's metrics, once per process.
void VQ_RegisterMetrics();

void VQ_CountCancelled(ZRM_CancelReason reason);

// The pool families for the given usage, appended to out.
void VQ_PoolMetricsText(const VQ_TDsnPolicy& policy, const std::vector<AdoPoolUsage>& usage, std::string& out);
