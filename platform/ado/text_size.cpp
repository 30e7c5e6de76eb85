#include "platform/ado/text_size.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace zado {
namespace {

size_t DecimalDigits(uint64_t v) {
  size_t n = 1;
  while (v >= 10) {
    v /= 10;
    ++n;
  }
  return n;
}

// The shortest text of a floating value shown with at least `precision`
// significant digits: its "%.<precision>g" form, whose length no larger
// precision shortens; any exponent form takes at least 5 characters
// ("1e+10"), which every form of such a value reaches.
size_t FloatingFloor(double v, int precision) {
  if (!std::isfinite(v)) return 3;  // "nan", "inf"
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, precision);
  if (ec != std::errc()) return 1;
  const size_t length = static_cast<size_t>(end - buffer);
  return std::memchr(buffer, 'e', length) ? 5 : length;
}

}  // namespace

size_t Utf8LengthOfLatin1(const uint8_t* units, size_t count) {
  size_t high = 0;
  for (size_t i = 0; i < count; ++i) high += units[i] >> 7;
  return count + high;
}

size_t Utf8LengthOfUtf16(const uint8_t* bytes, size_t byte_count) {
  const size_t units = byte_count / 2;
  size_t length = 0;
  for (size_t i = 0; i < units; ++i) {
    const unsigned u = bytes[2 * i] | (bytes[2 * i + 1] << 8);
    if (u < 0x80) {
      length += 1;
    } else if (u < 0x800) {
      length += 2;
    } else if (u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
      const unsigned next = bytes[2 * i + 2] | (bytes[2 * i + 3] << 8);
      if (next >= 0xDC00 && next < 0xE000) {
        length += 4;
        ++i;
      } else {
        length += 3;  // a lone surrogate is shown as U+FFFD
      }
    } else {
      length += 3;
    }
  }
  return length;
}

size_t FixedTextFloor(ValueKind kind, uint64_t slot) {
  if (IsInteger(kind)) {
    if (IsUnsigned(kind)) return DecimalDigits(slot);
    const auto v = static_cast<int64_t>(slot);
    return v < 0 ? 1 + DecimalDigits(0 - slot) : DecimalDigits(slot);
  }
  switch (kind) {
    case ValueKind::kBool: return 4;  // "True"
    case ValueKind::kR8: {
      double d;
      std::memcpy(&d, &slot, sizeof d);
      return FloatingFloor(d, 10);
    }
    case ValueKind::kR4: {
      float f;
      std::memcpy(&f, &slot, sizeof f);
      return FloatingFloor(f, 7);
    }
    case ValueKind::kDate:
    case ValueKind::kTime:
    case ValueKind::kTimestamp: return 8;  // "HH:MM:SS"; a date takes 10
    default: return 1;
  }
}

size_t DecimalTextFloor(const uint8_t* bytes, size_t byte_count) {
  const size_t units = byte_count / 2;
  bool negative = false;
  bool after_point = false;
  bool nonzero = false;
  size_t digits = 0;
  size_t zeros = 0;  // zeros after the point not (yet) followed by another digit
  for (size_t i = 0; i < units; ++i) {
    const unsigned c = bytes[2 * i] | (bytes[2 * i + 1] << 8);
    if (c == '-') {
      negative = true;
    } else if (c == '.') {
      after_point = true;
    } else if (c >= '0' && c <= '9') {
      if (c == '0' && !nonzero) continue;  // a leading zero
      nonzero = true;
      if (!after_point) {
        ++digits;
      } else if (c == '0') {
        ++zeros;
      } else {
        digits += zeros + 1;
        zeros = 0;
      }
    } else if (c == 'e' || c == 'E') {
      break;
    }
  }
  return (digits == 0 ? 1 : digits) + (negative && nonzero ? 1 : 0);
}

}  // namespace zado
