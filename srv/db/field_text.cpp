#include "srv/db/field_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "platform/com/comsupp.h"
#include "srv/db/convert.h"

namespace {

// The field at index, looked up through the recordset's Fields.
FieldPtr FieldAt(const RecordsetPtr& rs, const VARIANT& index) {
  return ado::GetItem(ado::GetFields(rs), index);
}

int Precision(double v) {
  const double a = std::fabs(v);
  if (!(a >= 1.0)) return 20;  // below one, or not a number
  const double digits = std::log10(a);
  // A logarithm that does not fit 32 bits (infinity) becomes INT32_MIN.
  const int32_t k = (digits >= -2147483648.0 && digits < 2147483648.0)
                        ? static_cast<int32_t>(digits)
                        : INT32_MIN;
  return k >= 0 ? k + 10 : 10;
}

}  // namespace

// to_chars with a precision writes what printf's "%.<p>g" writes in the "C"
// locale, so the point is always "." whatever the process locale is, and it
// is several times faster than printf. snprintf stays as the fallback should
// the buffer ever be too small (it cannot be: at most 20 + 308 digits).
std::string FormatDouble(double v) {
  const int precision = Precision(v);
  char buffer[400];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, precision);
  if (ec == std::errc()) return std::string(buffer, end);
  const int n = std::snprintf(nullptr, 0, "%.*g", precision, v);
  if (n <= 0) return {};
  std::string text(static_cast<size_t>(n), '\0');
  std::snprintf(text.data(), text.size() + 1, "%.*g", precision, v);
  return text;
}

// The line grows in place: building it by "line = line + text" copied the
// whole line for every field, quadratic over a large result.
void AppendField(ResultLine& line, const RecordsetPtr& rs, const VARIANT& index,
                 int32_t index_value, int32_t record, int32_t selector) {
  // Every field but the first of the first record in the line gets a "|".
  if (index_value > 0 || (selector == -1 && record > 1)) line.Append("|");

  // One lookup per field: a Field reads the current record at every call, so
  // its properties come out the same as through a fresh lookup each.
  const FieldPtr field = FieldAt(rs, index);
  if (ado::GetActualSize(field) == 0) return;

  _variant_t value;
  if (ado::GetType(field) == adDouble) {
    ado::GetValue(field, &value);
    line.Append(FormatDouble(VariantToDouble(value)));
    return;
  }
  ado::GetValue(field, &value);
  line.Append(VariantToString(value).Utf8());
}
