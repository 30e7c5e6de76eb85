// The rows of a result, held compactly: per column a null bit per row, then
// the values packed at their own width for fixed-width kinds, or one byte
// buffer with 32-bit end offsets for texts and binaries. The driver's length
// indicator is the stored length for texts and binaries; for fixed-width
// kinds it is nearly always the same, so one is kept per column and the
// rare others apart. A text column holds one byte per character while all
// its characters are below U+0100 (most data), two otherwise.
#pragma once

#include "platform/ado/odbc_api.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/ado/column_type.h"
#include "platform/ado/diagnostics.h"
#include "platform/ado/driver_traits.h"
#include "platform/ado/pod_array.h"

namespace zado {

class RowStore {
 public:
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

  size_t RowCount() const { return rows_; }
  size_t ColumnCount() const { return columns_.size(); }
  const ColumnInfo& Column(size_t column) const { return columns_[column].info; }

  bool IsNull(size_t row, size_t column) const { return columns_[column].IsNull(row); }
  // Length in bytes as the driver reported it (whole length for texts and
  // binaries), 0 for a null.
  LONG ActualSize(size_t row, size_t column) const;
  // A new VARIANT with the cell's value (VT_NULL for a null).
  HRESULT Value(size_t row, size_t column, VARIANT* value) const;

 private:
  struct ColumnData {
    ColumnInfo info;
    size_t count = 0;              // rows pushed
    size_t width = 0;              // fixed-width kinds: bytes per value
    PodArray<uint64_t> nulls;      // one bit per row
    PodArray<uint8_t> fixed;       // fixed-width kinds: width bytes per row
    int32_t usual_size = -1;       // fixed-width kinds: the indicator of most values
    std::unordered_map<size_t, int32_t> other_sizes;  // rows with another one
    // Fixed-width kinds read as text: the rows whose text is no such value,
    // with that text.
    std::unordered_map<size_t, std::u16string> texts;
    PodArray<uint8_t> bytes;       // variable kinds: the values one after another
    PodArray<uint32_t> ends;       // variable kinds: end offset of each row's value
    bool narrow = false;           // texts: one byte per UTF-16 unit (all <= 0xFF)

    bool IsNull(size_t row) const { return (nulls[row / 64] >> (row % 64)) & 1; }
    void AddNullBit(bool is_null);
    void AddFixed(uint64_t slot, int32_t size);
    // Integers: keeps every value of the column in 8 bytes from now on.
    void Widen();
    void AddEnd();  // ends the current row's bytes
    // Texts: the UTF-16 value appended from byte start on is narrowed in
    // place while the column is narrow, or the column is widened for it.
    void KeepText(size_t start);
  };

  bool ReadFixed(SQLHSTMT stmt, SQLUSMALLINT number, ColumnData* column, DiagList* diagnostics);
  bool ReadVariable(SQLHSTMT stmt, SQLUSMALLINT number, ColumnData* column, DiagList* diagnostics);
  bool ReadWhole(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT c_type, PodArray<uint8_t>* out,
                 bool* is_null, DiagList* diagnostics) const;

  std::vector<ColumnData> columns_;
  PodArray<uint8_t> scratch_;  // the text of a value being read
  size_t rows_ = 0;
  bool narrow_utf8_ = false;
};

}  // namespace zado
