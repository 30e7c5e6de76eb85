// The rows of a result, held compactly in blocks of kBlockRows rows (see
// ColumnBlock for how each column of a block is packed). The driver's
// length indicator is the stored length for texts and binaries; for
// fixed-width kinds it is nearly always the same, so one is kept per block
// and column and the rare others apart.
//
// The store also counts the result's text size (TextBytes): what its values
// take as UTF-8 text, plus one byte per value. Every reply that shows each
// value as text takes at least that much, so a result may be refused by
// that count without refusing one whose reply would fit. A reader that walks
// forward only can give back the blocks it has passed (ReleaseBefore).
#pragma once

#include "platform/ado/odbc_api.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ado/column_block.h"
#include "platform/ado/column_type.h"
#include "platform/ado/diagnostics.h"
#include "platform/ado/driver_traits.h"
#include "platform/ado/pod_array.h"

namespace zado {

class RowStore {
 public:
  // Rows per block: large enough that the blocks' main buffers come
  // straight from the system and go back to it when released.
  static constexpr size_t kBlockRows = 65536;

  // Reads the column descriptions of an executed statement.
  bool Describe(SQLHSTMT stmt, SQLSMALLINT column_count, const DriverTraits& traits, DiagList* diagnostics);
  // Reads the current row of the statement (after SQLFetch) into the store.
  bool AppendRow(SQLHSTMT stmt, DiagList* diagnostics);

  // Cell by cell, for the block fetch: each column of a row gets exactly one
  // Push or Read call, then EndRow counts the row.
  // A fixed-width value in the C form CTypeFor(kind) names, with the length
  // the driver reported for it.
  void PushFixed(size_t column, const void* c_value, SQLLEN indicator);
  // A text (UTF-16 bytes) or binary value, whole.
  void PushBytes(size_t column, const uint8_t* data, size_t length);
  // The whole text (UTF-16 bytes) of a value of a column read as text
  // (Column(column).read_as_text).
  void PushFixedText(size_t column, const uint8_t* data, size_t length);
  void PushNull(size_t column);
  // Reads the column's value of the statement's current row with SQLGetData.
  bool ReadCell(SQLHSTMT stmt, size_t column, DiagList* diagnostics);
  void EndRow() { ++rows_; }

  // A text size past which the reader stops (0: none). A value that alone
  // would pass it is not read to its end.
  void SetTextLimit(uint64_t bytes) { text_limit_ = bytes; }
  uint64_t TextBytes() const { return text_bytes_; }
  bool PastTextLimit() const { return text_limit_ != 0 && text_bytes_ > text_limit_; }

  size_t RowCount() const { return rows_; }
  size_t ColumnCount() const { return columns_.size(); }
  const ColumnInfo& Column(size_t column) const { return columns_[column]; }

  // Gives back the blocks that hold only rows before `row`; those rows
  // cannot be read any more.
  void ReleaseBefore(size_t row);
  // Whether the row's block is still held.
  bool Held(size_t row) const { return row < rows_ && row / kBlockRows >= released_; }

  bool IsNull(size_t row, size_t column) const { return Cell(row, column).IsNull(row % kBlockRows); }
  // Length in bytes as the driver reported it (whole length for texts and
  // binaries), 0 for a null.
  LONG ActualSize(size_t row, size_t column) const;
  // A new VARIANT with the cell's value (VT_NULL for a null).
  HRESULT Value(size_t row, size_t column, VARIANT* value) const;

 private:
  struct Block {
    std::vector<ColumnBlock> columns;
  };

  // The block of the row being added, made when its first value comes.
  ColumnBlock& Adding(size_t column);
  const ColumnBlock& Cell(size_t row, size_t column) const {
    return blocks_[row / kBlockRows]->columns[column];
  }
  void AddText(size_t floor) { text_bytes_ += 1 + floor; }

  bool ReadFixed(SQLHSTMT stmt, SQLUSMALLINT number, size_t column, DiagList* diagnostics);
  bool ReadVariable(SQLHSTMT stmt, SQLUSMALLINT number, size_t column, DiagList* diagnostics);
  bool ReadWhole(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT c_type, PodArray<uint8_t>* out,
                 bool* is_null, DiagList* diagnostics) const;
  void AddVariable(size_t column, size_t start);

  std::vector<ColumnInfo> columns_;
  std::vector<std::unique_ptr<Block>> blocks_;
  size_t released_ = 0;  // blocks given back, from the first on
  PodArray<uint8_t> scratch_;  // the text of a value being read
  size_t rows_ = 0;
  uint64_t text_bytes_ = 0;
  uint64_t text_limit_ = 0;
  bool narrow_utf8_ = false;
};

}  // namespace zado
