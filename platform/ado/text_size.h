// How many bytes a value takes at least when written as text in UTF-8.
// A result's text size (one byte per value for a separator, plus these) is
// never more than any reply that shows every value as text: a joined line
// writes each value's text and one separator between values, a JSON reply
// writes at least that much again. The floors are exact for texts and
// integers; for other kinds they are the shortest form their text can take.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/ado/column_type.h"

namespace zado {

// Texts held at one byte per UTF-16 unit (every unit <= 0xFF).
size_t Utf8LengthOfLatin1(const uint8_t* units, size_t count);
// Little-endian UTF-16 bytes, not necessarily aligned.
size_t Utf8LengthOfUtf16(const uint8_t* bytes, size_t byte_count);

// A fixed-width value held as its 64-bit slot (integers at 64 bits, signed
// or not as the kind is; doubles, floats and dates as their bits).
size_t FixedTextFloor(ValueKind kind, uint64_t slot);

// An exact number given as text (UTF-16 bytes): its significant digits and
// sign, which every rendering of the number keeps.
size_t DecimalTextFloor(const uint8_t* bytes, size_t byte_count);

}  // namespace zado
