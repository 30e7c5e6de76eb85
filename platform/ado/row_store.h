// The rows of a result, held compactly: per column one slot array for
// fixed-width values or one byte buffer with end offsets for texts and
// binaries, plus one size (the driver's length indicator) per cell.
#pragma once

#include "platform/ado/odbc_api.h"

#include <cstdint>
#include <vector>

#include "platform/ado/column_type.h"
#include "platform/ado/diagnostics.h"

namespace zado {

class RowStore {
 public:
  // Reads the column descriptions of an executed statement.
  bool Describe(SQLHSTMT stmt, SQLSMALLINT column_count, DiagList* diagnostics);
  // Reads the current row of the statement (after SQLFetch) into the store.
  bool AppendRow(SQLHSTMT stmt, DiagList* diagnostics);

  // Cell by cell, for the block fetch: each column of a row gets exactly one
  // Push or Read call, then EndRow counts the row.
  // A fixed-width value in the C form CTypeFor(kind) names, with the length
  // the driver reported for it.
  void PushFixed(size_t column, const void* c_value, SQLLEN indicator);
  // A text (UTF-16 bytes) or binary value, whole.
  void PushBytes(size_t column, const uint8_t* data, size_t length);
  void PushNull(size_t column);
  // Reads the column's value of the statement's current row with SQLGetData.
  bool ReadCell(SQLHSTMT stmt, size_t column, DiagList* diagnostics);
  void EndRow() { ++rows_; }

  size_t RowCount() const { return rows_; }
  size_t ColumnCount() const { return columns_.size(); }
  const ColumnInfo& Column(size_t column) const { return columns_[column].info; }

  bool IsNull(size_t row, size_t column) const { return columns_[column].sizes[row] < 0; }
  // Length in bytes as the driver reported it (whole length for texts and
  // binaries), 0 for a null.
  LONG ActualSize(size_t row, size_t column) const;
  // A new VARIANT with the cell's value (VT_NULL for a null).
  HRESULT Value(size_t row, size_t column, VARIANT* value) const;

 private:
  struct ColumnData {
    ColumnInfo info;
    std::vector<int32_t> sizes;   // per row; -1 = null
    std::vector<uint64_t> slots;  // fixed-width kinds: one 8-byte slot per row
    std::vector<uint8_t> bytes;   // variable kinds: the values one after another
    std::vector<size_t> ends;     // variable kinds: end offset of each row's value
  };

  bool ReadFixed(SQLHSTMT stmt, SQLUSMALLINT number, ColumnData* column, DiagList* diagnostics);
  bool ReadVariable(SQLHSTMT stmt, SQLUSMALLINT number, ColumnData* column, DiagList* diagnostics);

  std::vector<ColumnData> columns_;
  size_t rows_ = 0;
};

}  // namespace zado
