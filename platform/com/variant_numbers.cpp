#include "platform/com/variant_numbers.h"

#include <charconv>
#include <cmath>

#include "platform/com/number_parse.h"
#include "platform/com/value_format.h"

namespace zcom {

namespace {

using U128 = unsigned __int128;

// Integer sources as an exact value; false for any other type.
bool ExactInteger(const VARIANT& v, __int128* out) {
  switch (v.vt) {
    case VT_EMPTY: *out = 0; return true;
    case VT_I1: *out = static_cast<int8_t>(v.cVal); return true;
    case VT_UI1: *out = v.bVal; return true;
    case VT_I2: *out = v.iVal; return true;
    case VT_UI2: *out = v.uiVal; return true;
    case VT_I4: case VT_INT: *out = v.lVal; return true;
    case VT_UI4: case VT_UINT: *out = v.ulVal; return true;
    case VT_I8: *out = v.llVal; return true;
    case VT_UI8: *out = v.ullVal; return true;
    case VT_BOOL: *out = v.boolVal != 0 ? -1 : 0; return true;
    default: return false;
  }
}

// mantissa / 10^scale rounded half to even.
__int128 DivideRounded(__int128 mantissa, unsigned scale) {
  if (scale == 0) return mantissa;
  __int128 divisor = 1;
  for (unsigned k = 0; k < scale; ++k) divisor *= 10;
  bool negative = mantissa < 0;
  U128 m = negative ? -static_cast<U128>(mantissa) : static_cast<U128>(mantissa);
  U128 d = static_cast<U128>(divisor);
  U128 q = m / d, r = m % d;
  if (r * 2 > d || (r * 2 == d && (q & 1) != 0)) ++q;
  __int128 result = static_cast<__int128>(q);
  return negative ? -result : result;
}

HRESULT RoundDouble(double value, __int128* out) {
  if (!std::isfinite(value)) return DISP_E_OVERFLOW;
  double floor = std::floor(value);
  double diff = value - floor;
  double rounded = floor;
  if (diff > 0.5 || (diff == 0.5 && std::fmod(floor, 2.0) != 0)) rounded = floor + 1;
  if (std::fabs(rounded) >= 1.7e38) return DISP_E_OVERFLOW;  // beyond 128 bits
  *out = static_cast<__int128>(rounded);
  return S_OK;
}

HRESULT BstrNumber(BSTR text, ParsedNumber* out) {
  std::string ascii;
  if (!AsciiFromWide(text, SysStringLen(text), &ascii)) return DISP_E_TYPEMISMATCH;
  return ParseNumber(ascii, out);
}

HRESULT DoubleFromText(const std::string& text, double* out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  if (ec != std::errc()) return DISP_E_OVERFLOW;
  return S_OK;
}

// The text "True" or "False" in any letter case.
bool BoolWord(BSTR text, bool* out) {
  std::string ascii;
  if (!AsciiFromWide(text, SysStringLen(text), &ascii)) return false;
  size_t b = ascii.find_first_not_of(" \t\r\n");
  size_t e = ascii.find_last_not_of(" \t\r\n");
  if (b == std::string::npos) return false;
  std::string word = ascii.substr(b, e - b + 1);
  for (char& c : word) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (word == "true") { *out = true; return true; }
  if (word == "false") { *out = false; return true; }
  return false;
}

}  // namespace

HRESULT ReadInteger(const VARIANT& src, __int128* out) {
  if (ExactInteger(src, out)) return S_OK;
  switch (src.vt) {
    case VT_R4: return RoundDouble(src.fltVal, out);
    case VT_R8: return RoundDouble(src.dblVal, out);
    case VT_DATE: return RoundDouble(src.date, out);
    case VT_CY: *out = DivideRounded(src.cyVal, 4); return S_OK;
    case VT_DECIMAL: {
      if (src.decVal.scale > 28) return E_INVALIDARG;
      __int128 m = static_cast<__int128>((static_cast<U128>(src.decVal.Hi32) << 64) | src.decVal.Lo64);
      if ((src.decVal.sign & DECIMAL_NEG) != 0) m = -m;
      *out = DivideRounded(m, src.decVal.scale);
      return S_OK;
    }
    case VT_BSTR: {
      ParsedNumber n;
      HRESULT hr = BstrNumber(src.bstrVal, &n);
      if (FAILED(hr)) return hr;
      if (n.integer_fits) {
        *out = n.integer;
        return S_OK;
      }
      return RoundDouble(n.value, out);
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT ReadDouble(const VARIANT& src, double* out) {
  __int128 whole;
  if (ExactInteger(src, &whole)) {
    *out = static_cast<double>(whole);
    return S_OK;
  }
  switch (src.vt) {
    case VT_R4: *out = src.fltVal; return S_OK;
    case VT_R8: *out = src.dblVal; return S_OK;
    case VT_DATE: *out = src.date; return S_OK;
    // Currency and decimals go through their exact text so the double is
    // the one nearest to the true value.
    case VT_CY: return DoubleFromText(FormatCurrency(src.cyVal), out);
    case VT_DECIMAL: {
      std::string text;
      HRESULT hr = FormatDecimal(src.decVal, &text);
      return FAILED(hr) ? hr : DoubleFromText(text, out);
    }
    case VT_BSTR: {
      ParsedNumber n;
      HRESULT hr = BstrNumber(src.bstrVal, &n);
      if (SUCCEEDED(hr)) *out = n.value;
      return hr;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT ReadBool(const VARIANT& src, bool* out) {
  __int128 whole;
  if (ExactInteger(src, &whole)) {
    *out = whole != 0;
    return S_OK;
  }
  switch (src.vt) {
    case VT_CY: *out = src.cyVal != 0; return S_OK;
    case VT_DECIMAL: *out = src.decVal.Hi32 != 0 || src.decVal.Lo64 != 0; return S_OK;
    case VT_BSTR:
      if (BoolWord(src.bstrVal, out)) return S_OK;
      [[fallthrough]];
    default: {
      double d;
      HRESULT hr = ReadDouble(src, &d);
      if (SUCCEEDED(hr)) *out = d != 0;
      return hr;
    }
  }
}

HRESULT ReadText(const VARIANT& src, std::string* out) {
  __int128 whole;
  if (src.vt == VT_EMPTY) {
    out->clear();
    return S_OK;
  }
  if (src.vt == VT_BOOL) {
    *out = src.boolVal != 0 ? "True" : "False";
    return S_OK;
  }
  if (ExactInteger(src, &whole)) {
    *out = FormatInteger(whole);
    return S_OK;
  }
  switch (src.vt) {
    case VT_R4: *out = FormatFloat(src.fltVal); return S_OK;
    case VT_R8: *out = FormatDouble(src.dblVal); return S_OK;
    case VT_CY: *out = FormatCurrency(src.cyVal); return S_OK;
    case VT_DECIMAL: return FormatDecimal(src.decVal, out);
    case VT_DATE: return FormatDate(src.date, out);
    default:
      // VT_NULL, VT_ERROR and objects have no text form.
      return DISP_E_TYPEMISMATCH;
  }
}

}  // namespace zcom
