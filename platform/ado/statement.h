// Runs one SQL statement on an open ODBC connection and reads its first
// result set.
#pragma once

#include "platform/ado/odbc_api.h"

#include <string>

#include "platform/ado/diagnostics.h"
#include "platform/ado/row_store.h"

namespace zado {

struct StatementResult {
  bool ok = false;           // the driver accepted and ran the statement
  bool out_of_memory = false;
  bool has_result_set = false;
  bool too_large = false;    // reading stopped at the rows' text limit
  DiagList diagnostics;      // errors, and warnings of a successful run
};

// Executes sql with a time limit (seconds, 0 = none, below 0 = the session
// already holds it: the statement is given none of its own); when it yields
// a result set, reads at most max_records rows (all when 0) into rows, and
// stops early once the rows pass their text limit (too_large).
StatementResult RunStatement(SQLHDBC dbc, const std::u16string& sql, LONG timeout_seconds,
                             LONG max_records, RowStore* rows);

}  // namespace zado
