// JSON codec of framework values.
//
// string <-> ZR_TString (UTF-8), integer <-> 64-bit integer, number with a
// fraction or exponent <-> double, true/false <-> bool, null <-> empty
// ZR_TAny, array <-> ZR_TArray, object <-> ZR_TDict (entry order kept).
#pragma once

#include <string>
#include <string_view>

#include "zr.h"

// Thrown for text that is not JSON, not valid UTF-8, nested deeper than
// kMaxDepth, or holds a number out of range. The message says what and where.
class ZR_EJsonError : public ZR_EException {
 public:
  using ZR_EException::ZR_EException;
};

inline constexpr int kZR_JsonMaxDepth = 256;

ZR_TAny ZR_JsonDecode(std::string_view text);
// Appends the JSON form of a value. Text that is not valid UTF-8 is written
// with U+FFFD in place of each bad byte, so the output is always valid JSON.
void ZR_JsonEncode(const ZR_TAny& value, std::string& out);
std::string ZR_JsonEncode(const ZR_TAny& value);
