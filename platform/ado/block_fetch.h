// Reads a result through bound column buffers instead of one SQLGetData per
// cell: with a row array (many rows per SQLFetch) when the driver can also
// read a cut value of any row of the array, else one row per SQLFetch.
// Texts with a bounded column size get a buffer of their full width;
// longer ones a prefix buffer, and a value that does not fit is read again
// whole with SQLGetData.
#pragma once

#include "platform/ado/odbc_api.h"

#include "platform/ado/diagnostics.h"
#include "platform/ado/row_store.h"

namespace zado {

enum class BlockFetchResult {
  kDone,     // every row (up to max_records or the rows' text limit) is in rows
  kFailed,   // the driver reported a failure (in diagnostics)
  kNotUsed,  // the driver refused a binding; nothing was fetched
};

// rows must be described already. max_records 0 = no limit.
BlockFetchResult FetchInBlocks(SQLHDBC dbc, SQLHSTMT stmt, LONG max_records, RowStore* rows,
                               DiagList* diagnostics);

// Rows asked for per SQLFetch when the driver allows a row array.
inline constexpr SQLULEN kRowArraySize = 256;

}  // namespace zado
