#include "platform/ado/block_fetch.h"

#include "platform/ado/odbc_api.h"

#include <algorithm>
#include <vector>

#include "platform/ado/ado_settings.h"
#include "platform/ado/driver_traits.h"
#include "platform/ado/statement_cancel.h"

namespace zado {
namespace {

// Texts up to this many characters are bound at full width.
constexpr SQLULEN kBoundedChars = 1024;
constexpr SQLULEN kBoundedBinary = 8192;
// Buffer for the start of a longer value (bytes).
constexpr SQLLEN kPrefixBytes = 512;
// Buffer for the text of a date or a number (64 characters and the
// terminator).
constexpr SQLLEN kFixedTextBytes = 65 * sizeof(SQLWCHAR);

constexpr const char16_t* kLongerThanDeclared =
    u"A value is longer than its column's declared size and the driver cannot read it whole.";

struct BoundColumn {
  ValueKind kind;
  bool text;  // read as text (IsVariable(kind) or a fixed kind read as text)
  SQLSMALLINT c_type;
  SQLLEN width;  // bytes of one element
  bool binary;
  std::vector<unsigned char> values;
  std::vector<SQLLEN> indicators;
};

// Whether a variable column gets a buffer for its whole declared width.
bool FullWidth(const ColumnInfo& info) {
  if ((info.attributes & adFldLong) != 0 || info.column_size == 0) return false;
  return info.column_size <= (info.kind == ValueKind::kBinary ? kBoundedBinary : kBoundedChars);
}

SQLLEN ElementWidth(const ColumnInfo& info) {
  if (info.read_as_text && !IsVariable(info.kind)) return kFixedTextBytes;
  if (!IsVariable(info.kind)) return FixedWidth(info.kind);
  if (!FullWidth(info)) return kPrefixBytes;
  if (info.kind == ValueKind::kBinary) return static_cast<SQLLEN>(info.column_size);
  // A character may take two UTF-16 units; exact numbers add sign, point
  // and exponent; plus the terminator.
  return static_cast<SQLLEN>((info.column_size * 2 + 8) * sizeof(SQLWCHAR));
}

// Whether a value of the column may not fit its buffer. A driver that cannot
// read the rest of a bound value is trusted to keep values within their
// declared width, as the databases behind such drivers do.
bool MayCut(const ColumnInfo& info, const DriverTraits& traits) {
  if (!ReadsText(info)) return false;
  // The text of a date or a number fits its buffer unless the column holds
  // other texts too, which a driver keeping declared types does not allow.
  if (!IsVariable(info.kind)) return traits.reread_bound_values;
  return traits.reread_bound_values || !FullWidth(info);
}

// Whether the driver can read a bound column again with SQLGetData, after a
// one-row fetch and within a row array.
struct ReadAgain {
  bool single_row = false;
  bool row_array = false;
};

ReadAgain DriverReadAgain(SQLHDBC dbc) {
  SQLUINTEGER getdata = 0;
  SQLUINTEGER positions = 0;
  ReadAgain r;
  if (!SQL_SUCCEEDED(SQLGetInfoW(dbc, SQL_GETDATA_EXTENSIONS, &getdata, sizeof getdata, nullptr))) return r;
  r.single_row = (getdata & SQL_GD_BOUND) != 0;
  if (SQL_SUCCEEDED(SQLGetInfoW(dbc, SQL_POS_OPERATIONS, &positions, sizeof positions, nullptr)))
    r.row_array = r.single_row && (getdata & SQL_GD_BLOCK) != 0 && (positions & SQL_POS_POSITION) != 0;
  return r;
}

// Puts the statement back to one row per fetch without bindings.
void Unbind(SQLHSTMT stmt) {
  SQLFreeStmt(stmt, SQL_UNBIND);
  SQLSetStmtAttrW(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(1)), 0);
  SQLSetStmtAttrW(stmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
  SQLSetStmtAttrW(stmt, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
}

bool Cut(const BoundColumn& c, SQLLEN indicator) {
  if (indicator == SQL_NO_TOTAL) return true;
  const SQLLEN room = c.binary ? c.width : c.width - static_cast<SQLLEN>(sizeof(SQLWCHAR));
  return indicator > room;
}

}  // namespace

BlockFetchResult FetchInBlocks(SQLHDBC dbc, SQLHSTMT stmt, LONG max_records, RowStore* rows,
                               DiagList* diagnostics) {
  if (!BlockFetchEnabled()) return BlockFetchResult::kNotUsed;
  const size_t column_count = rows->ColumnCount();
  const DriverTraits& traits = DriverTraitsOf(dbc);
  bool may_cut = false;
  for (size_t i = 0; i < column_count; ++i) may_cut |= MayCut(rows->Column(i), traits);
  const ReadAgain again = may_cut ? DriverReadAgain(dbc) : ReadAgain{true, true};
  if (may_cut && (!again.single_row || !traits.reread_bound_values)) return BlockFetchResult::kNotUsed;

  SQLULEN array_size = again.row_array ? kRowArraySize : 1;
  if (max_records > 0) array_size = std::min(array_size, static_cast<SQLULEN>(max_records));
  if (array_size > 1) {
    SQLSetStmtAttrW(stmt, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
    const SQLRETURN rc =
        SQLSetStmtAttrW(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(array_size), 0);
    // A driver may lower the size (and say so with a warning) or refuse it.
    SQLULEN granted = 1;
    if (!SQL_SUCCEEDED(rc) ||
        !SQL_SUCCEEDED(SQLGetStmtAttrW(stmt, SQL_ATTR_ROW_ARRAY_SIZE, &granted, sizeof granted, nullptr)) ||
        granted == 0) {
      granted = 1;
      SQLSetStmtAttrW(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(granted), 0);
    }
    array_size = std::min(array_size, granted);
  }
  SQLULEN fetched = 0;
  std::vector<SQLUSMALLINT> status(array_size, SQL_ROW_SUCCESS);
  if (array_size > 1) {
    if (!SQL_SUCCEEDED(SQLSetStmtAttrW(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0)) ||
        !SQL_SUCCEEDED(SQLSetStmtAttrW(stmt, SQL_ATTR_ROW_STATUS_PTR, status.data(), 0))) {
      Unbind(stmt);
      return BlockFetchResult::kNotUsed;
    }
  }

  std::vector<BoundColumn> bound(column_count);
  for (size_t i = 0; i < column_count; ++i) {
    const ColumnInfo& info = rows->Column(i);
    BoundColumn& c = bound[i];
    c.kind = info.kind;
    c.text = ReadsText(info);
    c.c_type = CTypeOf(info);
    c.width = ElementWidth(info);
    c.binary = info.kind == ValueKind::kBinary;
    c.values.assign(static_cast<size_t>(c.width) * array_size, 0);
    c.indicators.assign(array_size, 0);
    if (!SQL_SUCCEEDED(SQLBindCol(stmt, static_cast<SQLUSMALLINT>(i + 1), c.c_type, c.values.data(), c.width,
                                  c.indicators.data()))) {
      Unbind(stmt);
      return BlockFetchResult::kNotUsed;
    }
  }

  BlockFetchResult outcome = BlockFetchResult::kDone;
  for (;;) {
    if (max_records > 0 && rows->RowCount() >= static_cast<size_t>(max_records)) break;
    if (rows->PastTextLimit()) break;
    fetched = 1;
    const SQLRETURN rc = CancellableFetch(stmt);
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc)) {
      ReadDiagnostics(SQL_HANDLE_STMT, stmt, diagnostics, DriverTraitsOf(dbc).narrow_utf8);
      outcome = BlockFetchResult::kFailed;
      break;
    }
    const SQLULEN in_block = std::min(fetched, array_size);
    for (SQLULEN r = 0; r < in_block; ++r) {
      if (max_records > 0 && rows->RowCount() >= static_cast<size_t>(max_records)) break;
      if (array_size > 1 && (status[r] == SQL_ROW_ERROR || status[r] == SQL_ROW_NOROW)) {
        if (status[r] == SQL_ROW_NOROW) continue;
        ReadDiagnostics(SQL_HANDLE_STMT, stmt, diagnostics, DriverTraitsOf(dbc).narrow_utf8);
        outcome = BlockFetchResult::kFailed;
        break;
      }
      bool positioned = array_size == 1;
      for (size_t i = 0; i < column_count; ++i) {
        const BoundColumn& c = bound[i];
        const SQLLEN indicator = c.indicators[r];
        const unsigned char* value = c.values.data() + static_cast<size_t>(c.width) * r;
        if (indicator == SQL_NULL_DATA) {
          rows->PushNull(i);
        } else if (!c.text) {
          rows->PushFixed(i, value, indicator);
        } else if (!Cut(c, indicator)) {
          const size_t length = indicator < 0 ? 0 : static_cast<size_t>(indicator);
          if (IsVariable(c.kind)) {
            rows->PushBytes(i, value, length);
          } else {
            rows->PushFixedText(i, value, length);
          }
        } else if (!traits.reread_bound_values) {
          // Longer than the column's declared width, on a driver that
          // cannot give the rest: refused rather than cut.
          diagnostics->push_back(DiagRecord{u"22001", 0, kLongerThanDeclared});
          outcome = BlockFetchResult::kFailed;
          break;
        } else {
          // The buffer holds only the start: read the whole value again.
          if (!positioned &&
              !SQL_SUCCEEDED(SQLSetPos(stmt, static_cast<SQLSETPOSIROW>(r + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE))) {
            ReadDiagnostics(SQL_HANDLE_STMT, stmt, diagnostics, DriverTraitsOf(dbc).narrow_utf8);
            outcome = BlockFetchResult::kFailed;
            break;
          }
          positioned = true;
          if (!rows->ReadCell(stmt, i, diagnostics)) {
            outcome = BlockFetchResult::kFailed;
            break;
          }
        }
      }
      if (outcome != BlockFetchResult::kDone) break;
      rows->EndRow();
      if (rows->PastTextLimit()) break;  // refused: the rest is not wanted
    }
    if (outcome != BlockFetchResult::kDone) break;
  }
  // The buffers go with this function: no binding may outlive them.
  Unbind(stmt);
  return outcome;
}

}  // namespace zado
