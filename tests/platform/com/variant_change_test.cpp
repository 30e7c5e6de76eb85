#include <gtest/gtest.h>

#include <clocale>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>

#include "platform/com/com.h"
#include "tests/platform/com/fake_object.h"

namespace {

template <typename Set>
VARIANT Make(VARTYPE vt, Set set) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  set(v);
  return v;
}

VARIANT I4(LONG x) { return Make(VT_I4, [&](VARIANT& v) { v.lVal = x; }); }
VARIANT R8(double x) { return Make(VT_R8, [&](VARIANT& v) { v.dblVal = x; }); }
VARIANT Date(double x) { return Make(VT_DATE, [&](VARIANT& v) { v.date = x; }); }
VARIANT Text(const char16_t* s) {
  return Make(VT_BSTR, [&](VARIANT& v) { v.bstrVal = SysAllocString(s); });
}
VARIANT Dec(uint32_t hi, uint64_t lo, BYTE scale, bool negative) {
  return Make(VT_DECIMAL, [&](VARIANT& v) {
    v.decVal = DECIMAL{0, scale, static_cast<BYTE>(negative ? DECIMAL_NEG : 0), hi, lo};
  });
}

// The text VariantChangeType gives, or "!<hresult>" when it fails.
std::string AsText(VARIANT src) {
  VARIANT out;
  VariantInit(&out);
  HRESULT hr = VariantChangeType(&out, &src, 0, VT_BSTR);
  VariantClear(&src);
  if (FAILED(hr)) return "!" + std::to_string(static_cast<uint32_t>(hr));
  std::string s;
  for (UINT i = 0; i < SysStringLen(out.bstrVal); ++i) s += static_cast<char>(out.bstrVal[i]);
  VariantClear(&out);
  return s;
}

std::string Fail(HRESULT hr) { return "!" + std::to_string(static_cast<uint32_t>(hr)); }

HRESULT Change(VARIANT src, VARTYPE vt, VARIANT* out) {
  VariantInit(out);
  HRESULT hr = VariantChangeType(out, &src, 0, vt);
  VariantClear(&src);
  return hr;
}

TEST(VariantToText, Integers) {
  EXPECT_EQ(AsText(I4(0)), "0");
  EXPECT_EQ(AsText(I4(-42)), "-42");
  EXPECT_EQ(AsText(I4(INT32_MIN)), "-2147483648");
  EXPECT_EQ(AsText(Make(VT_I1, [](VARIANT& v) { v.cVal = -128; })), "-128");
  EXPECT_EQ(AsText(Make(VT_UI1, [](VARIANT& v) { v.bVal = 255; })), "255");
  EXPECT_EQ(AsText(Make(VT_I2, [](VARIANT& v) { v.iVal = -32768; })), "-32768");
  EXPECT_EQ(AsText(Make(VT_UI2, [](VARIANT& v) { v.uiVal = 65535; })), "65535");
  EXPECT_EQ(AsText(Make(VT_UI4, [](VARIANT& v) { v.ulVal = 4294967295u; })), "4294967295");
  EXPECT_EQ(AsText(Make(VT_INT, [](VARIANT& v) { v.lVal = -5; })), "-5");
  EXPECT_EQ(AsText(Make(VT_UINT, [](VARIANT& v) { v.ulVal = 7; })), "7");
  EXPECT_EQ(AsText(Make(VT_I8, [](VARIANT& v) { v.llVal = INT64_MIN; })), "-9223372036854775808");
  EXPECT_EQ(AsText(Make(VT_UI8, [](VARIANT& v) { v.ullVal = UINT64_MAX; })),
            "18446744073709551615");
}

TEST(VariantToText, RealsBoolsEmptyAndRefusals) {
  EXPECT_EQ(AsText(R8(3.14159265358979323)), "3.14159265358979");
  EXPECT_EQ(AsText(R8(-0.5)), "-0.5");
  EXPECT_EQ(AsText(R8(1e20)), "1e+20");
  EXPECT_EQ(AsText(R8(100)), "100");
  EXPECT_EQ(AsText(R8(-0.0)), "-0");
  EXPECT_EQ(AsText(Make(VT_R4, [](VARIANT& v) { v.fltVal = 3.14159265f; })), "3.141593");
  EXPECT_EQ(AsText(Make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; })), "True");
  EXPECT_EQ(AsText(Make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_FALSE; })), "False");
  EXPECT_EQ(AsText(Make(VT_EMPTY, [](VARIANT&) {})), "");
  EXPECT_EQ(AsText(Make(VT_NULL, [](VARIANT&) {})), Fail(DISP_E_TYPEMISMATCH));
  EXPECT_EQ(AsText(Make(VT_ERROR, [](VARIANT& v) { v.scode = E_FAIL; })), Fail(DISP_E_TYPEMISMATCH));
  bool alive;
  EXPECT_EQ(AsText(Make(VT_DISPATCH, [&](VARIANT& v) { v.pdispVal = new FakeObject(&alive); })),
            Fail(DISP_E_TYPEMISMATCH));
  EXPECT_FALSE(alive);
  EXPECT_EQ(AsText(Text(u"same")), "same");
}

TEST(VariantToText, DatesCurrencyAndDecimals) {
  EXPECT_EQ(AsText(Date(45000)), "2023-03-15");
  EXPECT_EQ(AsText(Date(45000.75)), "2023-03-15 18:00:00");
  EXPECT_EQ(AsText(Date(2.5)), "1900-01-01 12:00:00");
  // Before 1899-12-30 the fraction is still the time after midnight.
  EXPECT_EQ(AsText(Date(-1.25)), "1899-12-29 06:00:00");
  EXPECT_EQ(AsText(Date(-1)), "1899-12-29");
  EXPECT_EQ(AsText(Date(-36522)), "1800-01-01");
  EXPECT_EQ(AsText(Date(1.0 - 1e-9)), "1899-12-31");  // rounds up to midnight
  EXPECT_EQ(AsText(Date(1)), "1899-12-31");
  EXPECT_EQ(AsText(Date(1e9)), Fail(DISP_E_OVERFLOW));

  auto cy = [](LONGLONG x) { return Make(VT_CY, [&](VARIANT& v) { v.cyVal = x; }); };
  EXPECT_EQ(AsText(cy(12345)), "1.2345");
  EXPECT_EQ(AsText(cy(15000)), "1.5");
  EXPECT_EQ(AsText(cy(-50)), "-0.005");
  EXPECT_EQ(AsText(cy(20000)), "2");
  EXPECT_EQ(AsText(cy(INT64_MIN)), "-922337203685477.5808");

  EXPECT_EQ(AsText(Dec(0, 12345, 2, false)), "123.45");
  EXPECT_EQ(AsText(Dec(0, 12345, 2, true)), "-123.45");
  EXPECT_EQ(AsText(Dec(0, 150, 2, false)), "1.5");
  EXPECT_EQ(AsText(Dec(0, 5, 3, false)), "0.005");
  EXPECT_EQ(AsText(Dec(0, 0, 4, true)), "0");
  EXPECT_EQ(AsText(Dec(0xFFFFFFFF, UINT64_MAX, 0, false)), "79228162514264337593543950335");
  EXPECT_EQ(AsText(Dec(0xFFFFFFFF, UINT64_MAX, 28, false)), "7.9228162514264337593543950335");
  EXPECT_EQ(AsText(Dec(0, 1, 29, false)), Fail(E_INVALIDARG));
}

// Times of day carry the zero day 1899-12-30 as their date; it is left out,
// at midnight too, and the time is shown rounded to the second.
TEST(VariantToText, TimesOfDayOnTheZeroDay) {
  EXPECT_EQ(AsText(Date(0)), "00:00:00");
  EXPECT_EQ(AsText(Date((13 * 3600 + 45 * 60 + 12) / 86400.0)), "13:45:12");
  EXPECT_EQ(AsText(Date(0.5)), "12:00:00");
  EXPECT_EQ(AsText(Date(-0.5)), "12:00:00");  // the fraction counts from midnight either way
  EXPECT_EQ(AsText(Date((86399 + 0.4) / 86400.0)), "23:59:59");
  // Half a second before the next midnight rounds into the next day.
  EXPECT_EQ(AsText(Date((86399 + 0.6) / 86400.0)), "1899-12-31");
  // Rounding up from the day before lands on the zero day.
  EXPECT_EQ(AsText(Date(-1.0 - (86399 + 0.6) / 86400.0)), "00:00:00");
  EXPECT_EQ(AsText(Date(-1.5)), "1899-12-29 12:00:00");
}

VARIANT Bytes(std::initializer_list<int> bytes) {
  return Make(VT_ARRAY | VT_UI1, [&](VARIANT& v) {
    v.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    auto* data = static_cast<unsigned char*>(v.parray->pvData);
    for (int b : bytes) *data++ = static_cast<unsigned char>(b);
  });
}

TEST(VariantToText, BinaryAsUppercaseHex) {
  EXPECT_EQ(AsText(Bytes({0x00, 0xFF, 0x41})), "00FF41");
  EXPECT_EQ(AsText(Bytes({0x0A, 0xB0, 0x9c, 0x01})), "0AB09C01");
  EXPECT_EQ(AsText(Bytes({})), "");
  EXPECT_EQ(AsText(Make(VT_ARRAY | VT_UI1, [](VARIANT& v) { v.parray = nullptr; })), "");

  // Every byte value, and a value of 1 MiB whole.
  const ULONG size = 1 << 20;
  VARIANT big = Make(VT_ARRAY | VT_UI1,
                     [&](VARIANT& v) { v.parray = SafeArrayCreateVector(VT_UI1, 0, size); });
  auto* data = static_cast<unsigned char*>(big.parray->pvData);
  for (ULONG k = 0; k < size; ++k) data[k] = static_cast<unsigned char>(k * 7);
  const std::string hex = AsText(big);
  ASSERT_EQ(hex.size(), 2u * size);
  for (ULONG k = 0; k < size; ++k) {
    char expected[3];
    std::snprintf(expected, sizeof expected, "%02X", static_cast<unsigned>(k * 7 % 256));
    if (hex.compare(2 * k, 2, expected) != 0) {
      ADD_FAILURE() << "byte " << k << " reads " << hex.substr(2 * k, 2);
      break;
    }
  }

  // In place: the array is replaced by its text (a leak or double free shows
  // under the sanitizers). Binary converts to text only.
  VARIANT v = Bytes({0x12, 0x34});
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
  ASSERT_EQ(v.vt, VT_BSTR);
  EXPECT_EQ(std::u16string(v.bstrVal, SysStringLen(v.bstrVal)), u"1234");
  VariantClear(&v);
  VARIANT out;
  EXPECT_EQ(Change(Bytes({1}), VT_R8, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(Bytes({1}), VT_I4, &out), DISP_E_TYPEMISMATCH);
}

TEST(VariantToNumber, DoublesFromEachKind) {
  VARIANT out;
  ASSERT_EQ(Change(I4(-3), VT_R8, &out), S_OK);
  EXPECT_EQ(out.vt, VT_R8);
  EXPECT_EQ(out.dblVal, -3.0);
  ASSERT_EQ(Change(Make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; }), VT_R8, &out), S_OK);
  EXPECT_EQ(out.dblVal, -1.0);
  ASSERT_EQ(Change(Make(VT_CY, [](VARIANT& v) { v.cyVal = 12345; }), VT_R8, &out), S_OK);
  EXPECT_EQ(out.dblVal, 1.2345);
  ASSERT_EQ(Change(Dec(0, 314, 2, true), VT_R8, &out), S_OK);
  EXPECT_EQ(out.dblVal, -3.14);
  ASSERT_EQ(Change(Date(2.5), VT_R8, &out), S_OK);
  EXPECT_EQ(out.dblVal, 2.5);
  ASSERT_EQ(Change(Make(VT_EMPTY, [](VARIANT&) {}), VT_R8, &out), S_OK);
  EXPECT_EQ(out.dblVal, 0.0);
  ASSERT_EQ(Change(Make(VT_R4, [](VARIANT& v) { v.fltVal = 0.5f; }), VT_R8, &out), S_OK);
  EXPECT_EQ(out.dblVal, 0.5);

  ASSERT_EQ(Change(Text(u"  -1.5e3\t"), VT_R8, &out), S_OK);
  EXPECT_EQ(out.dblVal, -1500.0);
  ASSERT_EQ(Change(Text(u"+.25"), VT_R8, &out), S_OK);
  EXPECT_EQ(out.dblVal, 0.25);
  ASSERT_EQ(Change(Text(u"7."), VT_R8, &out), S_OK);
  EXPECT_EQ(out.dblVal, 7.0);
  ASSERT_EQ(Change(Text(u"0.000000000000000000000000000000000000000000001e-400"), VT_R8, &out),
            S_OK);
  EXPECT_EQ(out.dblVal, 0.0);
  EXPECT_EQ(Change(Text(u"100000000000000000000000000000000000000000e300"), VT_R8, &out),
            DISP_E_OVERFLOW);
  ASSERT_EQ(Change(Text(u"1e-400"), VT_R8, &out), S_OK);
  EXPECT_EQ(out.dblVal, 0.0);
  EXPECT_EQ(Change(Text(u"1e400"), VT_R8, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(Text(u"-1e400"), VT_R8, &out), DISP_E_OVERFLOW);
  for (const char16_t* bad : {u"", u"  ", u"abc", u"1,5", u"1.5x", u"inf", u"nan", u"0x10",
                              u"1e", u".", u"--1", u"１"}) {
    EXPECT_EQ(Change(Text(bad), VT_R8, &out), DISP_E_TYPEMISMATCH) << "text starting " << static_cast<int>(bad[0]);
  }
  EXPECT_EQ(Change(Make(VT_BSTR, [](VARIANT& v) { v.bstrVal = nullptr; }), VT_R8, &out),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(Make(VT_NULL, [](VARIANT&) {}), VT_R8, &out), DISP_E_TYPEMISMATCH);
}

TEST(VariantToNumber, IntegerTargetsRoundAndCheckRange) {
  VARIANT out;
  ASSERT_EQ(Change(R8(2.5), VT_I4, &out), S_OK);
  EXPECT_EQ(out.lVal, 2);  // half to even
  ASSERT_EQ(Change(R8(3.5), VT_I4, &out), S_OK);
  EXPECT_EQ(out.lVal, 4);
  ASSERT_EQ(Change(R8(-2.6), VT_I4, &out), S_OK);
  EXPECT_EQ(out.lVal, -3);
  ASSERT_EQ(Change(R8(2147483647.0), VT_I4, &out), S_OK);
  EXPECT_EQ(out.lVal, INT32_MAX);
  EXPECT_EQ(Change(R8(2147483648.0), VT_I4, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(R8(NAN), VT_I4, &out), DISP_E_OVERFLOW);

  ASSERT_EQ(Change(I4(-32768), VT_I2, &out), S_OK);
  EXPECT_EQ(out.vt, VT_I2);
  EXPECT_EQ(out.iVal, -32768);
  EXPECT_EQ(Change(I4(32768), VT_I2, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(Make(VT_UI8, [](VARIANT& v) { v.ullVal = UINT64_MAX; }), VT_I8, &out),
            DISP_E_OVERFLOW);

  ASSERT_EQ(Change(Text(u"9223372036854775807"), VT_I8, &out), S_OK);
  EXPECT_EQ(out.llVal, INT64_MAX);  // exact, not through a double
  ASSERT_EQ(Change(Text(u"-9223372036854775808"), VT_I8, &out), S_OK);
  EXPECT_EQ(out.llVal, INT64_MIN);
  EXPECT_EQ(Change(Text(u"9223372036854775808"), VT_I8, &out), DISP_E_OVERFLOW);
  ASSERT_EQ(Change(Text(u" 12.5 "), VT_I4, &out), S_OK);
  EXPECT_EQ(out.lVal, 12);
  EXPECT_EQ(Change(Text(u"12abc"), VT_I4, &out), DISP_E_TYPEMISMATCH);

  ASSERT_EQ(Change(Make(VT_CY, [](VARIANT& v) { v.cyVal = 25000; }), VT_I4, &out), S_OK);
  EXPECT_EQ(out.lVal, 2);
  ASSERT_EQ(Change(Make(VT_CY, [](VARIANT& v) { v.cyVal = -35000; }), VT_I4, &out), S_OK);
  EXPECT_EQ(out.lVal, -4);
  ASSERT_EQ(Change(Dec(0, 12351, 2, true), VT_I8, &out), S_OK);
  EXPECT_EQ(out.llVal, -124);
  EXPECT_EQ(Change(Dec(1, 0, 0, false), VT_I8, &out), DISP_E_OVERFLOW);  // 2^64
}

TEST(VariantToNumber, SingleAndBool) {
  VARIANT out;
  ASSERT_EQ(Change(R8(0.1), VT_R4, &out), S_OK);
  EXPECT_EQ(out.vt, VT_R4);
  EXPECT_EQ(out.fltVal, 0.1f);
  EXPECT_EQ(Change(R8(1e39), VT_R4, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(Text(u"-1e39"), VT_R4, &out), DISP_E_OVERFLOW);

  ASSERT_EQ(Change(I4(5), VT_BOOL, &out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_TRUE);
  ASSERT_EQ(Change(R8(0), VT_BOOL, &out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_FALSE);
  ASSERT_EQ(Change(Text(u" true "), VT_BOOL, &out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_TRUE);
  ASSERT_EQ(Change(Text(u"FALSE"), VT_BOOL, &out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_FALSE);
  ASSERT_EQ(Change(Text(u"-2"), VT_BOOL, &out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_TRUE);
  EXPECT_EQ(Change(Text(u"yes"), VT_BOOL, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(Make(VT_NULL, [](VARIANT&) {}), VT_BOOL, &out), DISP_E_TYPEMISMATCH);
}

TEST(VariantChange, InPlaceFailureLeavesDestAndBadTypes) {
  // dest == src: the BSTR is replaced by the number and freed (ASan checks).
  VARIANT v = Text(u"42");
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 42);
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(std::u16string(v.bstrVal), u"42");

  VARIANT dest = I4(9);
  VARIANT bad = Text(u"x");
  EXPECT_EQ(VariantChangeType(&dest, &bad, 0, VT_R8), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(dest.vt, VT_I4);
  EXPECT_EQ(dest.lVal, 9);
  EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_R8), S_OK);
  EXPECT_EQ(v.vt, VT_R8);
  EXPECT_EQ(v.dblVal, 42.0);

  VARIANT null = Make(VT_NULL, [](VARIANT&) {});
  EXPECT_EQ(VariantChangeType(&dest, &null, 0, VT_NULL), S_OK);
  EXPECT_EQ(dest.vt, VT_NULL);
  EXPECT_EQ(VariantChangeType(&dest, &bad, 0, 0x4444), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(&dest, &bad, 0, VT_CY), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(nullptr, &bad, 0, VT_R8), E_INVALIDARG);
  VariantClear(&bad);
  VariantClear(&v);
}

TEST(VariantChange, Objects) {
  bool alive = false;
  auto* obj = new FakeObject(&alive);
  VARIANT unk = Make(VT_UNKNOWN, [&](VARIANT& v) { v.punkVal = static_cast<IUnknown*>(obj); });
  VARIANT out;
  ASSERT_EQ(Change(unk, VT_DISPATCH, &out), S_OK);  // Change clears its copy of unk
  ASSERT_TRUE(alive);
  EXPECT_EQ(out.vt, VT_DISPATCH);
  EXPECT_EQ(out.pdispVal, obj);
  VARIANT back;
  VariantInit(&back);
  ASSERT_EQ(VariantChangeType(&back, &out, 0, VT_UNKNOWN), S_OK);
  EXPECT_EQ(obj->Refs(), 2u);
  VariantClear(&out);
  VariantClear(&back);
  EXPECT_FALSE(alive);

  auto* plain = new FakeObject(&alive, false);
  VARIANT p = Make(VT_UNKNOWN, [&](VARIANT& v) { v.punkVal = static_cast<IUnknown*>(plain); });
  EXPECT_EQ(Change(p, VT_DISPATCH, &out), E_NOINTERFACE);
  EXPECT_FALSE(alive);
  EXPECT_EQ(Change(I4(1), VT_DISPATCH, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(Text(u"DSN=x"), VT_UNKNOWN, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(Make(VT_NULL, [](VARIANT&) {}), VT_UNKNOWN, &out), DISP_E_TYPEMISMATCH);
}

// Numbers read and print with '.', whatever the process locale says.
TEST(VariantChange, IndependentOfProcessLocale) {
  const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8"};
  std::string old = std::setlocale(LC_NUMERIC, nullptr);
  const char* found = nullptr;
  for (const char* n : names) {
    if (std::setlocale(LC_NUMERIC, n) != nullptr) {
      found = n;
      break;
    }
  }
  if (found == nullptr) GTEST_SKIP() << "no locale with a decimal comma installed";
  EXPECT_EQ(AsText(R8(1.5)), "1.5");
  VARIANT out;
  EXPECT_EQ(Change(Text(u"2.25"), VT_R8, &out), S_OK);
  EXPECT_EQ(out.dblVal, 2.25);
  EXPECT_EQ(Change(Text(u"2,25"), VT_R8, &out), DISP_E_TYPEMISMATCH);
  std::setlocale(LC_NUMERIC, old.c_str());
}

}  // namespace
