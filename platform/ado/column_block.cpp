#include "platform/ado/column_block.h"

#include <cstring>
#include <new>

#include "platform/ado/text_size.h"

namespace zado {
namespace {

// An integer kept in `width` bytes back as its 64-bit slot.
uint64_t Extend(ValueKind kind, uint64_t low, size_t width) {
  if (width >= 8 || IsUnsigned(kind)) return low;
  const unsigned shift = static_cast<unsigned>(64 - width * 8);
  return static_cast<uint64_t>(static_cast<int64_t>(low << shift) >> shift);
}

// Integers start at one byte and widen as their values need; other fixed
// kinds keep their C form's width (dates as a DATE).
size_t FirstWidth(ValueKind kind) {
  if (IsInteger(kind)) return 1;
  if (kind == ValueKind::kBool) return 1;
  if (kind == ValueKind::kR4) return 4;
  if (IsVariable(kind)) return 0;
  return 8;  // doubles, and dates as DATE
}

}  // namespace

bool FitsWidth(ValueKind kind, uint64_t slot, size_t width) {
  if (width >= 8) return true;
  const unsigned bits = static_cast<unsigned>(width * 8);
  if (IsUnsigned(kind)) return (slot >> bits) == 0;
  const auto v = static_cast<int64_t>(slot);
  return v >= -(int64_t{1} << (bits - 1)) && v < (int64_t{1} << (bits - 1));
}

ColumnBlock::ColumnBlock(ValueKind value_kind)
    : kind(value_kind), width(FirstWidth(value_kind)), narrow(value_kind == ValueKind::kText) {}

void ColumnBlock::AddNullBit(bool is_null) {
  if (count % 64 == 0) nulls.push_back(0);
  if (is_null) nulls.back() |= uint64_t{1} << (count % 64);
}

void ColumnBlock::WidenTo(size_t new_width) {
  PodArray<uint8_t> wide(count * new_width);
  for (size_t row = 0; row < count; ++row) {
    const uint64_t slot = Slot(row);
    std::memcpy(wide.data() + row * new_width, &slot, new_width);
  }
  fixed.swap(wide);
  width = new_width;
}

void ColumnBlock::AddFixed(uint64_t slot, int32_t size) {
  if (IsInteger(kind) && !FitsWidth(kind, slot, width)) {
    size_t w = width * 2;
    while (!FitsWidth(kind, slot, w)) w *= 2;
    WidenTo(w);
  }
  const size_t at = fixed.size();
  fixed.resize(at + width);
  std::memcpy(fixed.data() + at, &slot, width);  // the low bytes hold the value
  if (usual_size < 0 && size >= 0) usual_size = size;
  if (size >= 0 && size != usual_size) other_sizes.emplace(count, size);
}

uint64_t ColumnBlock::Slot(size_t row) const {
  uint64_t low = 0;
  std::memcpy(&low, fixed.data() + row * width, width);
  return IsInteger(kind) ? Extend(kind, low, width) : low;
}

int32_t ColumnBlock::Size(size_t row) const {
  if (!other_sizes.empty()) {
    const auto other = other_sizes.find(row);
    if (other != other_sizes.end()) return other->second;
  }
  return usual_size < 0 ? 0 : usual_size;
}

size_t ColumnBlock::KeepText(size_t start) {
  const size_t units = (bytes.size() - start) / 2;
  if (narrow) {
    bool fits = true;
    for (size_t i = 0; i < units && fits; ++i) fits = bytes[start + 2 * i + 1] == 0;
    if (fits) {
      for (size_t i = 0; i < units; ++i) bytes[start + i] = bytes[start + 2 * i];
      bytes.resize(start + units);
      return Utf8LengthOfLatin1(bytes.data() + start, units);
    }
    // The first character past U+00FF: every earlier value of the block gets
    // two bytes per character again (little-endian UTF-16, as the driver
    // gave them).
    PodArray<uint8_t> wide(start * 2 + (bytes.size() - start));
    for (size_t i = 0; i < start; ++i) wide[2 * i] = bytes[i];
    std::memcpy(wide.data() + start * 2, bytes.data() + start, bytes.size() - start);
    bytes.swap(wide);
    EndOffsets doubled;
    for (size_t i = 0; i < ends.size(); ++i) doubled.push_back(ends.End(i) * 2);
    ends = std::move(doubled);
    narrow = false;
    start *= 2;
  }
  return Utf8LengthOfUtf16(bytes.data() + start, units * 2);
}

}  // namespace zado
