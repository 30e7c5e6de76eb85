// The answer to a P1 the data source policy refuses: the commands reply to
// it as to a connect that failed, and nothing reaches the driver manager.
#pragma once

#include <optional>

#include "platform/com/comsupp.h"
#include "platform/types/zr.h"

// Which data object a failed connect would have come from: it names the
// error's Source ("ADODB.Connection" for "open", "ADODB.Recordset" for
// "query" and "querydbg").
enum class VQ_ConnectingObject { kConnection, kRecordset };

// Checks p1 against VQ_DsnPolicy(), then against VQ_DsnSources() (a DSN
// whose settings would not reach its driver). Empty when p1 may be used;
// else the error to answer with: E_FAIL (0x80004005) whose Description says
// why. Each refusal is counted for GET /metrics as
// vqsrv_errors_total{kind="dsn_refused",code="0x80004005"}, or with
// kind="dsn_unreadable" for the second check.
std::optional<_com_error> VQ_RefuseDataSource(const ZR_TString& p1, VQ_ConnectingObject object);
