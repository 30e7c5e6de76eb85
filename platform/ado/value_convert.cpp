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

DATE DateFromOdbc(const SQL_DATE_STRUCT& d) {
  return DateFromParts(d.year, d.month, d.day, 0, 0, 0, 0);
}

DATE DateFromOdbc(const SQL_TIME_STRUCT& t) {
  return DateFromParts(1899, 12, 30, t.hour, t.minute, t.second, 0);
}

DATE DateFromOdbc(const SQL_TIMESTAMP_STRUCT& ts) {
  return DateFromParts(ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second, ts.fraction);
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
  std::string narrow;
  bool ascii = true;
  for (char16_t c : text) {
    if (c > 0x7F) ascii = false;
    narrow.push_back(static_cast<char>(c));
  }
  if (ascii && !narrow.empty()) {
    char* end = nullptr;
    const double d = std::strtod(narrow.c_str(), &end);
    while (end && (*end == ' ' || *end == '\t')) ++end;
    if (end && *end == '\0' && std::isfinite(d)) {
      value->vt = VT_R8;
      value->dblVal = d;
      return S_OK;
    }
  }
  value->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!value->bstrVal) return E_OUTOFMEMORY;
  value->vt = VT_BSTR;
  return S_OK;
}

}  // namespace zado
