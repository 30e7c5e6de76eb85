// Text forms of VARIANT values, always in the "C" locale (the point is '.').
#pragma once

#include <string>

#include "platform/com/com.h"

namespace zcom {

std::string FormatInteger(__int128 value);
std::string FormatDouble(double value);  // up to 15 significant digits
std::string FormatFloat(float value);    // up to 7 significant digits
std::string FormatCurrency(LONGLONG cy);  // cy / 10000, trailing zeros dropped
// Exact decimal text, trailing fractional zeros dropped. E_INVALIDARG when
// the scale is above 28.
HRESULT FormatDecimal(const DECIMAL& value, std::string* out);
// "YYYY-MM-DD HH:MM:SS", or "YYYY-MM-DD" at midnight, rounded to the
// second. DISP_E_OVERFLOW outside the years 100 to 9999 (or not a number).
HRESULT FormatDate(DATE value, std::string* out);

}  // namespace zcom
