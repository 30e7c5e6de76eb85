#include "platform/com/value_format.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace zcom {

namespace {

using U128 = unsigned __int128;

std::string DigitsOf(U128 v) {
  if (v == 0) return "0";
  std::string s;
  while (v != 0) {
    s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  }
  return s;
}

// Puts a point `scale` digits from the right of `digits` and drops trailing
// fractional zeros (and the point itself when nothing is left after it).
std::string PlacePoint(std::string digits, unsigned scale) {
  if (scale == 0) return digits;
  if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
  digits.insert(digits.size() - scale, 1, '.');
  while (digits.back() == '0') digits.pop_back();
  if (digits.back() == '.') digits.pop_back();
  return digits;
}

template <typename T>
std::string FormatReal(T value, int precision) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  // A negative zero keeps its sign ("-0"), as printf's %g writes it and as
  // the databases that keep one show it.
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general,
                                 precision);
  return ec == std::errc() ? std::string(buf, end) : std::string();
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
void CivilFromDays(long long z, long long* y, unsigned* m, unsigned* d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<long long>(yoe) + era * 400 + (*m <= 2 ? 1 : 0);
}

}  // namespace

std::string FormatInteger(__int128 value) {
  if (value >= INT64_MIN && value <= INT64_MAX) {  // every integer VARIANT but the widest
    char buf[24];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, static_cast<int64_t>(value));
    if (ec == std::errc()) return std::string(buf, end);
  }
  if (value < 0) return "-" + DigitsOf(-static_cast<U128>(value));
  return DigitsOf(static_cast<U128>(value));
}

std::string FormatDouble(double value) { return FormatReal(value, 15); }

std::string FormatFloat(float value) { return FormatReal(value, 7); }

std::string FormatCurrency(LONGLONG cy) {
  bool negative = cy < 0;
  // Through unsigned so the most negative value has a magnitude.
  U128 magnitude = negative ? -static_cast<U128>(cy) : static_cast<U128>(cy);
  std::string text = PlacePoint(DigitsOf(magnitude), 4);
  return negative ? "-" + text : text;
}

HRESULT FormatDecimal(const DECIMAL& value, std::string* out) {
  if (value.scale > 28) return E_INVALIDARG;
  U128 mantissa = (static_cast<U128>(value.Hi32) << 64) | value.Lo64;
  std::string text = PlacePoint(DigitsOf(mantissa), value.scale);
  bool negative = (value.sign & DECIMAL_NEG) != 0 && mantissa != 0;
  *out = negative ? "-" + text : text;
  return S_OK;
}

// The whole part counts days from 1899-12-30; the fraction is the time after
// midnight of that day whatever the sign (-1.25 is 1899-12-29 06:00).
HRESULT FormatDate(DATE value, std::string* out) {
  // 0001-01-01 .. 9999-12-31 is far wider than we allow; keep to what the
  // four-digit year form can show.
  if (!std::isfinite(value) || value < -657434.0 || value >= 2958466.0) return DISP_E_OVERFLOW;
  double whole = std::trunc(value);
  long long day = static_cast<long long>(whole);
  long long seconds = std::llround(std::fabs(value - whole) * 86400.0);
  if (seconds >= 86400) {  // rounding reached the next midnight
    seconds -= 86400;
    day += 1;
  }
  long long year;
  unsigned month, mday;
  CivilFromDays(day - 25569, &year, &month, &mday);  // 1899-12-30 is day -25569
  if (year < 100 || year > 9999) return DISP_E_OVERFLOW;
  char buf[64];
  const long long hh = seconds / 3600, mm = seconds / 60 % 60, ss = seconds % 60;
  if (day == 0) {
    // A time of day carries the zero day as its date: show the time alone,
    // midnight included.
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", hh, mm, ss);
  } else {
    const int n = std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u", year, month, mday);
    if (seconds != 0) std::snprintf(buf + n, sizeof buf - n, " %02lld:%02lld:%02lld", hh, mm, ss);
  }
  *out = buf;
  return S_OK;
}

HRESULT FormatBytes(const SAFEARRAY* array, BSTR* out) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const uint64_t count = array == nullptr ? 0 : array->cElements;
  // Two characters per byte must fit a BSTR's 32-bit length.
  if (count > UINT32_MAX / 4) return E_OUTOFMEMORY;
  BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(count * 2));
  if (text == nullptr) return E_OUTOFMEMORY;
  const auto* bytes = count == 0 ? nullptr : static_cast<const unsigned char*>(array->pvData);
  for (uint64_t k = 0; k < count; ++k) {
    text[2 * k] = static_cast<OLECHAR>(kDigits[bytes[k] >> 4]);
    text[2 * k + 1] = static_cast<OLECHAR>(kDigits[bytes[k] & 0x0F]);
  }
  *out = text;
  return S_OK;
}

}  // namespace zcom
