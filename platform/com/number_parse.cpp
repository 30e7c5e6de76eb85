#include "platform/com/number_parse.h"

#include <charconv>
#include <cmath>
#include <string>

namespace zcom {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

HRESULT ParseNumber(std::string_view text, ParsedNumber* out) {
  std::string_view s = Trim(text);
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  size_t number_start = i;

  // Mantissa, tracking where the first significant digit sits relative to
  // the point so an out-of-range result can be told apart (huge or tiny).
  size_t int_digits = 0, frac_digits = 0;
  long long magnitude = 0;  // decimal exponent of the leading digit, plus 1
  bool seen_significant = false;
  long long leading_frac_zeros = 0;
  while (i < s.size() && IsDigit(s[i])) {
    if (s[i] != '0' || seen_significant) {
      seen_significant = true;
      ++magnitude;
    }
    ++int_digits;
    ++i;
  }
  bool has_point = false;
  if (i < s.size() && s[i] == '.') {
    has_point = true;
    ++i;
    while (i < s.size() && IsDigit(s[i])) {
      if (!seen_significant) {
        if (s[i] == '0') {
          ++leading_frac_zeros;
        } else {
          seen_significant = true;
          magnitude = -leading_frac_zeros;
        }
      }
      ++frac_digits;
      ++i;
    }
  }
  if (int_digits + frac_digits == 0) return DISP_E_TYPEMISMATCH;

  bool has_exponent = false;
  long long exponent = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    has_exponent = true;
    ++i;
    bool exp_negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) exp_negative = s[i++] == '-';
    size_t exp_start = i;
    while (i < s.size() && IsDigit(s[i])) {
      if (exponent < 1000000) exponent = exponent * 10 + (s[i] - '0');  // saturate
      ++i;
    }
    if (i == exp_start) return DISP_E_TYPEMISMATCH;
    if (exp_negative) exponent = -exponent;
  }
  if (i != s.size()) return DISP_E_TYPEMISMATCH;

  // from_chars takes no '+' sign; hand it the sign and digits we checked.
  std::string digits;
  if (negative) digits += '-';
  digits.append(s.substr(number_start));

  ParsedNumber result;
  result.is_integer = !has_point && !has_exponent;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), result.value);
  if (ec == std::errc::result_out_of_range) {
    if (seen_significant && magnitude + exponent > 0) return DISP_E_OVERFLOW;
    result.value = negative ? -0.0 : 0.0;  // too small to hold: zero
  } else if (ec != std::errc() || end != digits.data() + digits.size()) {
    return DISP_E_TYPEMISMATCH;
  }
  if (result.is_integer && int_digits <= 38) {
    __int128 v = 0;
    for (size_t k = number_start; k < number_start + int_digits; ++k) v = v * 10 + (s[k] - '0');
    result.integer = negative ? -v : v;
    result.integer_fits = true;
  }
  *out = result;
  return S_OK;
}

bool AsciiFromWide(const OLECHAR* text, UINT len, std::string* out) {
  out->clear();
  out->reserve(len);
  for (UINT k = 0; k < len; ++k) {
    if (text[k] == 0 || text[k] > 0x7F) return false;
    out->push_back(static_cast<char>(text[k]));
  }
  return true;
}

}  // namespace zcom
