#include "platform/ado/value_convert.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

namespace zado {
namespace {

// Days from 1970-01-01 of a proleptic Gregorian date.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

constexpr long long kDaysFrom1899To1970 = 25569;
constexpr unsigned __int128 kMax96 = (static_cast<unsigned __int128>(1) << 96) - 1;

}  // namespace

DATE DateFromParts(int year, int month, int day, int hour, int minute, int second,
                   unsigned fraction_ns) {
  const long long days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                         kDaysFrom1899To1970;
  const double seconds = hour * 3600.0 + minute * 60.0 + second + fraction_ns / 1e9;
  const double fraction = seconds / 86400.0;
  return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

namespace {

// Reads exactly n decimal digits at text[*at].
bool Digits(std::u16string_view text, size_t* at, size_t n, int* value) {
  if (*at + n > text.size()) return false;
  int v = 0;
  for (size_t k = 0; k < n; ++k) {
    const char16_t c = text[*at + k];
    if (c < u'0' || c > u'9') return false;
    v = v * 10 + (c - u'0');
  }
  *at += n;
  *value = v;
  return true;
}

bool Skip(std::u16string_view text, size_t* at, char16_t c) {
  if (*at >= text.size() || text[*at] != c) return false;
  ++*at;
  return true;
}

bool LeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && LeapYear(y) ? 29 : days[m - 1];
}

// "HH:MM[:SS[.f...]]" from text[*at] to its end.
bool ParseTime(std::u16string_view text, size_t at, int* h, int* mi, int* s) {
  *s = 0;
  if (!Digits(text, &at, 2, h) || !Skip(text, &at, u':') || !Digits(text, &at, 2, mi)) return false;
  if (Skip(text, &at, u':')) {
    if (!Digits(text, &at, 2, s)) return false;
    if (Skip(text, &at, u'.')) {
      const size_t start = at;
      while (at < text.size() && text[at] >= u'0' && text[at] <= u'9') ++at;
      if (at == start) return false;
    }
  }
  return at == text.size() && *h <= 23 && *mi <= 59 && *s <= 59;
}

}  // namespace

bool ParseDateTime(std::u16string_view text, DATE* out) {
  int y = 1899, mo = 12, d = 30, h = 0, mi = 0, s = 0;
  size_t at = 0;
  if (text.size() >= 3 && text[2] == u':') {
    if (!ParseTime(text, 0, &h, &mi, &s)) return false;
  } else {
    if (!Digits(text, &at, 4, &y) || !Skip(text, &at, u'-') || !Digits(text, &at, 2, &mo) ||
        !Skip(text, &at, u'-') || !Digits(text, &at, 2, &d))
      return false;
    if (at < text.size() && !((Skip(text, &at, u' ') || Skip(text, &at, u'T')) && ParseTime(text, at, &h, &mi, &s)))
      return false;
    if (y < 100 || mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo)) return false;
  }
  *out = DateFromParts(y, mo, d, h, mi, s, 0);
  return true;
}

bool ParseInteger(std::u16string_view text, bool is_unsigned, uint64_t* out) {
  size_t at = 0;
  bool negative = false;
  if (at < text.size() && (text[at] == u'-' || text[at] == u'+')) negative = text[at++] == u'-';
  if (at == text.size()) return false;
  unsigned __int128 magnitude = 0;
  for (; at < text.size(); ++at) {
    const char16_t c = text[at];
    if (c < u'0' || c > u'9') return false;
    magnitude = magnitude * 10 + static_cast<unsigned>(c - u'0');
    if (magnitude > UINT64_MAX) return false;
  }
  if (is_unsigned) {
    if (negative && magnitude != 0) return false;
    *out = static_cast<uint64_t>(magnitude);
    return true;
  }
  if (negative ? magnitude > static_cast<unsigned __int128>(INT64_MAX) + 1 : magnitude > INT64_MAX) return false;
  *out = negative ? static_cast<uint64_t>(0) - static_cast<uint64_t>(magnitude) : static_cast<uint64_t>(magnitude);
  return true;
}

bool ParseDecimal(std::u16string_view text, DECIMAL* out) {
  size_t i = 0;
  auto skip_blanks = [&] {
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
  };
  skip_blanks();
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  std::string digits;  // significant digits, leading zeros dropped
  long long scale = 0;
  bool any_digit = false;
  bool in_fraction = false;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= u'0' && c <= u'9') {
      any_digit = true;
      if (!(digits.empty() && c == u'0')) digits.push_back(static_cast<char>(c));
      if (in_fraction) ++scale;
      if (digits.size() > 80) return false;
    } else if (c == u'.' && !in_fraction) {
      in_fraction = true;
    } else {
      break;
    }
  }
  if (!any_digit) return false;
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    ++i;
    bool exp_negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) exp_negative = text[i++] == u'-';
    long long exponent = 0;
    bool exp_digit = false;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
      exp_digit = true;
      exponent = exponent * 10 + (text[i] - u'0');
      if (exponent > 100) return false;
    }
    if (!exp_digit) return false;
    scale += exp_negative ? exponent : -exponent;
  }
  skip_blanks();
  if (i != text.size()) return false;
  // A negative scale multiplies by ten; a scale above 28 may lose zeros.
  while (scale < 0) {
    if (!digits.empty()) digits.push_back('0');
    ++scale;
  }
  while (scale > 28 && !digits.empty() && digits.back() == '0') {
    digits.pop_back();
    --scale;
  }
  if (digits.empty()) scale = std::min<long long>(scale, 28);
  if (scale > 28 || digits.size() > 29) return false;
  unsigned __int128 value = 0;
  for (char d : digits) {
    value = value * 10 + static_cast<unsigned>(d - '0');
    if (value > kMax96) return false;
  }
  out->wReserved = 0;
  out->scale = static_cast<BYTE>(scale);
  out->sign = negative && value != 0 ? DECIMAL_NEG : 0;
  out->Hi32 = static_cast<uint32_t>(value >> 64);
  out->Lo64 = static_cast<uint64_t>(value);
  return true;
}

HRESULT NumericTextToVariant(std::u16string_view text, VARIANT* value) {
  VariantInit(value);
  DECIMAL dec{};
  if (ParseDecimal(text, &dec)) {
    value->decVal = dec;
    value->vt = VT_DECIMAL;
    return S_OK;
  }
  value->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!value->bstrVal) return E_OUTOFMEMORY;
  value->vt = VT_BSTR;
  return S_OK;
}

}  // namespace zado
