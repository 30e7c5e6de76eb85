// Conversions of driver values into the forms a VARIANT holds.
#pragma once

#include "platform/ado/odbc_api.h"

#include <string_view>

#include "platform/com/com.h"

namespace zado {

// Days since 1899-12-30 with the time of day as fraction; for days before
// that date the fraction counts away from zero, as DATE values do.
DATE DateFromParts(int year, int month, int day, int hour, int minute, int second,
                   unsigned fraction_ns);
DATE DateFromOdbc(const SQL_DATE_STRUCT& d);
DATE DateFromOdbc(const SQL_TIME_STRUCT& t);
DATE DateFromOdbc(const SQL_TIMESTAMP_STRUCT& ts);

// Parses a decimal number text ("-12.50", "1e3", " 7 ") into an exact
// DECIMAL. False when the text is no number, or when the value needs more
// than 96 bits or a scale above 28 (trailing fraction zeros are dropped
// first to make it fit).
bool ParseDecimal(std::u16string_view text, DECIMAL* out);

// Fills value from the text of an exact number: VT_DECIMAL when it fits,
// else VT_R8 when it is a finite number, else the text as VT_BSTR.
HRESULT NumericTextToVariant(std::u16string_view text, VARIANT* value);

}  // namespace zado
