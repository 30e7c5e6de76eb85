// Conversions of driver values into the forms a VARIANT holds.
#pragma once

#include "platform/ado/odbc_api.h"

#include <cstdint>
#include <string_view>

#include "platform/com/com.h"

namespace zado {

// Days since 1899-12-30 with the time of day as fraction; for days before
// that date the fraction counts away from zero, as DATE values do.
DATE DateFromParts(int year, int month, int day, int hour, int minute, int second,
                   unsigned fraction_ns);

// Parses the text ODBC gives for a date, a time or a timestamp
// ("YYYY-MM-DD", "HH:MM[:SS]", "YYYY-MM-DD HH:MM[:SS]", with or without a
// fraction of a second, a "T" taken for the space) into a DATE; a time alone
// falls on 1899-12-30. The fraction is dropped, never rounded into the next
// second. False for any other text (infinities, eras, time zones, numbers)
// and for values a DATE does not show: years before 100 or after 9999,
// days the month does not have, hours past 23.
bool ParseDateTime(std::u16string_view text, DATE* out);

// Parses the text of a whole number (a sign, then decimal digits, nothing
// else) into its 64-bit form: two's complement for signed, plain for
// unsigned. False for any other text and for values that do not fit.
bool ParseInteger(std::u16string_view text, bool is_unsigned, uint64_t* out);

// Parses a decimal number text ("-12.50", "1e3", " 7 ") into an exact
// DECIMAL. False when the text is no number, or when the value needs more
// than 96 bits or a scale above 28 (trailing fraction zeros are dropped
// first to make it fit).
bool ParseDecimal(std::u16string_view text, DECIMAL* out);

// Fills value from the text of an exact number: VT_DECIMAL when it fits,
// else the text itself as VT_BSTR, so no digit is lost to a double.
HRESULT NumericTextToVariant(std::u16string_view text, VARIANT* value);

}  // namespace zado
