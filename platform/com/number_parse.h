// Reading numbers from text in the "C" locale, whatever the process locale.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/com.h"

namespace zcom {

// A decimal number: [sign] digits [. digits] [e [sign] digits], with blanks
// allowed around it. `is_integer` is set when there is neither a point nor
// an exponent.
struct ParsedNumber {
  double value = 0;
  bool is_integer = false;
  __int128 integer = 0;    // exact value when is_integer and it fits
  bool integer_fits = false;
};

// S_OK, DISP_E_TYPEMISMATCH (not a number) or DISP_E_OVERFLOW (beyond the
// range of a double; values too small for a double read as zero).
HRESULT ParseNumber(std::string_view text, ParsedNumber* out);

// Narrows a UTF-16 text that should hold a number; false when it holds
// anything outside ASCII (no number can then be read from it).
bool AsciiFromWide(const OLECHAR* text, UINT len, std::string* out);

}  // namespace zcom
