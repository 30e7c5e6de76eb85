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
// "YYYY-MM-DD HH:MM:SS", rounded to the second: "YYYY-MM-DD" at midnight,
// "HH:MM:SS" on the zero day 1899-12-30 (where every time of day lands).
// DISP_E_OVERFLOW outside the years 100 to 9999 (or not a number).
HRESULT FormatDate(DATE value, std::string* out);
// A byte vector as two uppercase hex digits per byte, written straight into
// a new BSTR (a large binary value is not copied through a narrow text). A
// null array is the empty text. E_OUTOFMEMORY when the text is too long.
HRESULT FormatBytes(const SAFEARRAY* array, BSTR* out);

}  // namespace zcom
