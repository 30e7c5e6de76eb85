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

// Whether every value of the result can come through bound buffers: a value
// that may not fit its buffer needs a driver that reads it again whole.
// *again tells what the driver can read a second time.
bool Bindable(SQLHDBC dbc, const RowStore& rows, const DriverTraits& traits, ReadAgain* again) {
  bool may_cut = false;
  for (size_t i = 0; i < rows.ColumnCount(); ++i) may_cut |= MayCut(rows.Column(i), traits);
  *again = may_cut ? DriverReadAgain(dbc) : ReadAgain{true, true};
  return !may_cut || (again->single_row && traits.reread_bound_values);
}

// Asks for `wanted` rows per fetch; returns the number the driver granted.
SQLULEN SetRowArraySize(SQLHSTMT stmt, SQLULEN wanted) {
  if (wanted <= 1) return wanted;
  SQLSetStmtAttrW(stmt, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
  const SQLRETURN rc = SQLSetStmtAttrW(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(wanted), 0);
  // A driver may lower the size (and say so with a warning) or refuse it.
  SQLULEN granted = 1;
  if (!SQL_SUCCEEDED(rc) ||
      !SQL_SUCCEEDED(SQLGetStmtAttrW(stmt, SQL_ATTR_ROW_ARRAY_SIZE, &granted, sizeof granted, nullptr)) ||
      granted == 0) {
    granted = 1;
    SQLSetStmtAttrW(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(granted), 0);
  }
  return std::min(wanted, granted);
}

// The buffers of one block fetch and the walk over them. The statement
// points into this object while it is bound: it must not move.
class BlockReader {
 public:
  BlockReader(SQLHDBC dbc, SQLHSTMT stmt, const DriverTraits& traits, LONG max_records, RowStore* rows,
              DiagList* diagnostics, SQLULEN array_size)
      : dbc_(dbc),
        stmt_(stmt),
        traits_(traits),
        max_records_(max_records),
        rows_(rows),
        diagnostics_(diagnostics),
        array_size_(array_size),
        status_(array_size, SQL_ROW_SUCCESS) {}
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;

  // Binds the row count, the row status and every column; false when the
  // driver refuses one of them.
  bool Bind() {
    if (array_size_ > 1) {
      if (!SQL_SUCCEEDED(SQLSetStmtAttrW(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0)) ||
          !SQL_SUCCEEDED(SQLSetStmtAttrW(stmt_, SQL_ATTR_ROW_STATUS_PTR, status_.data(), 0))) {
        return false;
      }
    }
    bound_.resize(rows_->ColumnCount());
    for (size_t i = 0; i < bound_.size(); ++i) {
      if (!BindColumn(i)) return false;
    }
    return true;
  }

  // Fetches blocks until the result, max_records or the rows' text limit
  // ends, or a failure.
  BlockFetchResult ReadAll() {
    for (;;) {
      if (Full() || rows_->PastTextLimit()) return BlockFetchResult::kDone;
      fetched_ = 1;
      const SQLRETURN rc = CancellableFetch(stmt_);
      if (rc == SQL_NO_DATA) return BlockFetchResult::kDone;
      if (!SQL_SUCCEEDED(rc)) return Failed();
      if (!StoreBlock()) return BlockFetchResult::kFailed;
    }
  }

 private:
  bool BindColumn(size_t i) {
    const ColumnInfo& info = rows_->Column(i);
    BoundColumn& c = bound_[i];
    c.kind = info.kind;
    c.text = ReadsText(info);
    c.c_type = CTypeOf(info);
    c.width = ElementWidth(info);
    c.binary = info.kind == ValueKind::kBinary;
    c.values.assign(static_cast<size_t>(c.width) * array_size_, 0);
    c.indicators.assign(array_size_, 0);
    return SQL_SUCCEEDED(SQLBindCol(stmt_, static_cast<SQLUSMALLINT>(i + 1), c.c_type, c.values.data(), c.width,
                                    c.indicators.data()));
  }

  bool Full() const {
    return max_records_ > 0 && rows_->RowCount() >= static_cast<size_t>(max_records_);
  }

  // Reads the driver's diagnostics of the statement.
  BlockFetchResult Failed() {
    ReadDiagnostics(SQL_HANDLE_STMT, stmt_, diagnostics_, DriverTraitsOf(dbc_).narrow_utf8);
    return BlockFetchResult::kFailed;
  }

  // Moves the rows of the fetched block into rows_; false on a failure.
  bool StoreBlock() {
    const SQLULEN in_block = std::min(fetched_, array_size_);
    for (SQLULEN r = 0; r < in_block; ++r) {
      if (Full()) break;
      if (array_size_ > 1 && (status_[r] == SQL_ROW_ERROR || status_[r] == SQL_ROW_NOROW)) {
        if (status_[r] == SQL_ROW_NOROW) continue;
        Failed();
        return false;
      }
      bool positioned = array_size_ == 1;
      for (size_t i = 0; i < bound_.size(); ++i) {
        if (!StoreCell(r, i, &positioned)) return false;
      }
      rows_->EndRow();
      if (rows_->PastTextLimit()) break;  // refused: the rest is not wanted
    }
    return true;
  }

  // Cell (r, i) of the block; *positioned: the cursor is on row r already.
  bool StoreCell(SQLULEN r, size_t i, bool* positioned) {
    const BoundColumn& c = bound_[i];
    const SQLLEN indicator = c.indicators[r];
    const unsigned char* value = c.values.data() + static_cast<size_t>(c.width) * r;
    if (indicator == SQL_NULL_DATA) {
      rows_->PushNull(i);
    } else if (!c.text) {
      rows_->PushFixed(i, value, indicator);
    } else if (!Cut(c, indicator)) {
      const size_t length = indicator < 0 ? 0 : static_cast<size_t>(indicator);
      if (IsVariable(c.kind)) {
        rows_->PushBytes(i, value, length);
      } else {
        rows_->PushFixedText(i, value, length);
      }
    } else {
      return RereadCell(r, i, positioned);
    }
    return true;
  }

  // A value longer than its buffer, which holds only the start.
  bool RereadCell(SQLULEN r, size_t i, bool* positioned) {
    if (!traits_.reread_bound_values) {
      // Longer than the column's declared width, on a driver that cannot
      // give the rest: refused rather than cut.
      diagnostics_->push_back(DiagRecord{u"22001", 0, kLongerThanDeclared});
      return false;
    }
    // Read the whole value again.
    if (!*positioned &&
        !SQL_SUCCEEDED(SQLSetPos(stmt_, static_cast<SQLSETPOSIROW>(r + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE))) {
      Failed();
      return false;
    }
    *positioned = true;
    return rows_->ReadCell(stmt_, i, diagnostics_);
  }

  SQLHDBC dbc_;
  SQLHSTMT stmt_;
  const DriverTraits& traits_;
  LONG max_records_;
  RowStore* rows_;
  DiagList* diagnostics_;
  SQLULEN array_size_;
  SQLULEN fetched_ = 0;
  std::vector<SQLUSMALLINT> status_;
  std::vector<BoundColumn> bound_;
};

}  // namespace

BlockFetchResult FetchInBlocks(SQLHDBC dbc, SQLHSTMT stmt, LONG max_records, RowStore* rows,
                               DiagList* diagnostics) {
  if (!BlockFetchEnabled()) return BlockFetchResult::kNotUsed;
  const DriverTraits& traits = DriverTraitsOf(dbc);
  ReadAgain again;
  if (!Bindable(dbc, *rows, traits, &again)) return BlockFetchResult::kNotUsed;

  SQLULEN wanted = again.row_array ? kRowArraySize : 1;
  if (max_records > 0) wanted = std::min(wanted, static_cast<SQLULEN>(max_records));
  BlockReader reader(dbc, stmt, traits, max_records, rows, diagnostics, SetRowArraySize(stmt, wanted));
  BlockFetchResult outcome = BlockFetchResult::kNotUsed;
  if (reader.Bind()) outcome = reader.ReadAll();
  // The buffers go with the reader: no binding may outlive them.
  Unbind(stmt);
  return outcome;
}

}  // namespace zado
