#include "platform/ado/statement.h"

#include "platform/ado/odbc_api.h"

#include <climits>
#include <new>

#include "platform/ado/block_fetch.h"
#include "platform/ado/driver_text.h"
#include "platform/ado/driver_traits.h"
#include "platform/ado/statement_cancel.h"

namespace zado {
namespace {

// Frees the statement handle on every way out.
class StatementHandle {
 public:
  explicit StatementHandle(SQLHDBC dbc) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt_))) stmt_ = SQL_NULL_HSTMT;
  }
  ~StatementHandle() {
    if (stmt_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  }
  StatementHandle(const StatementHandle&) = delete;
  StatementHandle& operator=(const StatementHandle&) = delete;
  SQLHSTMT get() const { return stmt_; }

 private:
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
};

}  // namespace

StatementResult RunStatement(SQLHDBC dbc, const std::u16string& sql, LONG timeout_seconds,
                             LONG max_records, RowStore* rows) {
  StatementResult result;
  StatementHandle stmt(dbc);
  if (stmt.get() == SQL_NULL_HSTMT) {
    ReadDiagnostics(SQL_HANDLE_DBC, dbc, &result.diagnostics);
    return result;
  }
  // Drivers that cannot honour the time limit answer with a warning or an
  // error; the statement runs either way. The row limit is kept below, by
  // fetching no more; only a driver known to gain from it and to leave the
  // statement alone is told it too.
  if (timeout_seconds >= 0)
    SQLSetStmtAttrW(stmt.get(), SQL_ATTR_QUERY_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeout_seconds)), 0);
  if (max_records > 0 && DriverTraitsOf(dbc).max_rows_attribute)
    SQLSetStmtAttrW(stmt.get(), SQL_ATTR_MAX_ROWS, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(max_records)), 0);

  const DriverTraits& traits = DriverTraitsOf(dbc);
  const RunningStatement running;
  SQLRETURN rc = ExecDirectWhole(stmt.get(), sql, traits, &result.diagnostics);
  if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) return result;  // SQL_NO_DATA: a searched UPDATE/DELETE hit nothing

  SQLSMALLINT column_count = 0;
  if (rc != SQL_NO_DATA && !SQL_SUCCEEDED(SQLNumResultCols(stmt.get(), &column_count))) {
    ReadDiagnostics(SQL_HANDLE_STMT, stmt.get(), &result.diagnostics, traits.narrow_utf8);
    return result;
  }
  if (column_count <= 0) {
    result.ok = true;
    return result;
  }
  try {
    if (!rows->Describe(stmt.get(), column_count, traits, &result.diagnostics)) return result;
    const BlockFetchResult block = FetchInBlocks(dbc, stmt.get(), max_records, rows, &result.diagnostics);
    if (block == BlockFetchResult::kFailed) return result;
    // The cell-by-cell path, for drivers that refuse bound columns.
    while (block == BlockFetchResult::kNotUsed) {
      if (max_records > 0 && rows->RowCount() >= static_cast<size_t>(max_records)) break;
      if (rows->PastTextLimit()) break;
      rc = CancellableFetch(stmt.get());
      if (rc == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(rc)) {
        ReadDiagnostics(SQL_HANDLE_STMT, stmt.get(), &result.diagnostics, traits.narrow_utf8);
        return result;
      }
      if (!rows->AppendRow(stmt.get(), &result.diagnostics)) return result;
    }
  } catch (const std::bad_alloc&) {
    result.out_of_memory = true;
    return result;
  }
  result.ok = true;
  result.has_result_set = true;
  result.too_large = rows->PastTextLimit();
  return result;
}

}  // namespace zado
