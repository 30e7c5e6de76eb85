// The values of one column in one block of rows: a null bit per row, then
// either fixed-width values packed at the narrowest width the block's values
// need, or the bytes of texts and binaries one after another with their end
// offsets. Each block packs on its own: one wide value or one character past
// U+00FF widens only the block it is in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "platform/ado/column_type.h"
#include "platform/ado/end_offsets.h"
#include "platform/ado/pod_array.h"

namespace zado {

// Whether an integer slot (a 64-bit value, signed or not as its kind is)
// survives being kept in its low `width` bytes.
bool FitsWidth(ValueKind kind, uint64_t slot, size_t width);

struct ColumnBlock {
  explicit ColumnBlock(ValueKind value_kind);

  ValueKind kind;
  size_t count = 0;          // rows added
  size_t width = 0;          // fixed-width kinds: bytes per value
  bool narrow = false;       // texts: one byte per UTF-16 unit (all <= 0xFF)
  int32_t usual_size = -1;   // fixed-width kinds: the length most values report
  PodArray<uint64_t> nulls;  // one bit per row
  PodArray<uint8_t> fixed;   // fixed-width kinds: width bytes per row
  std::unordered_map<size_t, int32_t> other_sizes;  // rows reporting another length
  // Fixed-width kinds read as text: the rows whose text is no such value,
  // with that text.
  std::unordered_map<size_t, std::u16string> texts;
  PodArray<uint8_t> bytes;   // variable kinds: the values one after another
  EndOffsets ends;           // variable kinds: where each row's value ends

  bool IsNull(size_t row) const { return (nulls[row / 64] >> (row % 64)) & 1; }
  void AddNullBit(bool is_null);
  // A fixed-width value as its 64-bit slot, with the length to report for it
  // (negative: none, for a null).
  void AddFixed(uint64_t slot, int32_t size);
  // The slot of a row's fixed-width value (integers sign- or zero-extended).
  uint64_t Slot(size_t row) const;
  int32_t Size(size_t row) const;  // the length reported for a non-null value
  // Texts: the UTF-16 value appended to bytes from start on is narrowed in
  // place while the block is narrow, or the block widened for it. Returns
  // the value's length in UTF-8.
  size_t KeepText(size_t start);
  void AddEnd() { ends.push_back(bytes.size()); }

 private:
  void WidenTo(size_t new_width);
};

}  // namespace zado
