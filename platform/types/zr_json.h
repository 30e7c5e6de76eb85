// JSON codec of framework values.
//
// string <-> ZR_TString (UTF-8), integer <-> 64-bit integer, number with a
// fraction or exponent <-> double, true/false <-> bool, null <-> empty
// ZR_TAny, array <-> ZR_TArray, object <-> ZR_TDict (entry order kept).
#pragma once

#include <string>
#include <string_view>
#include <vector>

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
// Like ZR_JsonEncode, but the text of each ZR_TJsonText of at least
// kZR_JsonMoveFrom bytes is moved out of value instead of being copied:
// the JSON text is what was appended to out, then more[0], more[1], ... A
// large reply built as JSON text so goes out without a second copy of it.
inline constexpr size_t kZR_JsonMoveFrom = 64 * 1024;
void ZR_JsonEncodeMoving(ZR_TAny&& value, std::string& out, std::vector<std::string>& more);

// Appends text as a JSON string (quotes included), escaped exactly as
// ZR_JsonEncode escapes strings; invalid UTF-8 bytes become U+FFFD.
void ZR_JsonAppendString(std::string_view utf8, std::string& out);
// The same without the quotes: text to go inside a JSON string. Whole
// UTF-8 characters only (a character split between two calls would be
// taken for bad bytes).
void ZR_JsonAppendEscaped(std::string_view utf8, std::string& out);
