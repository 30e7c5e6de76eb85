#include "srv/db/convert.h"

#include <gtest/gtest.h>

#include "platform/com/comsupp.h"

namespace {

TEST(ConvertTest, VariantToTextAndNumbers) {
  _variant_t v;
  v.vt = VT_I4;
  v.lVal = -42;
  EXPECT_STREQ(VariantToText(v).Narrow(), "-42");
  EXPECT_EQ(VariantToString(v), "-42");
  EXPECT_STREQ(LongToText(-7).Narrow(), "-7");
  EXPECT_STREQ(LongToText(123456).Narrow(), "123456");

  _variant_t s;
  BstrToVariant(_bstr_t(u"2.5").GetBSTR(), &s);
  EXPECT_EQ(VariantToDouble(s), 2.5);
  EXPECT_STREQ(VariantToText(s).Narrow(), "2.5");

  _variant_t d;
  d.vt = VT_R8;
  d.dblVal = 1e300;
  EXPECT_EQ(VariantToDouble(d), 1e300);
}

TEST(ConvertTest, FailedCoercionsCarryTheirCodeWithoutInformation) {
  _variant_t null;
  null.vt = VT_NULL;
  try {
    VariantToText(null);
    FAIL() << "a null has no text";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(e.ErrorInfo(), nullptr);
  }
  _variant_t word;
  BstrToVariant(_bstr_t(u"abc").GetBSTR(), &word);
  try {
    VariantToDouble(word);
    FAIL() << "'abc' is no number";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), DISP_E_TYPEMISMATCH);
  }
}

TEST(ConvertTest, BstrIntoVariantKeepsEmbeddedNuls) {
  const char16_t raw[] = u"ab\0cd";
  BSTR text = SysAllocStringLen(raw, 5);
  _variant_t v;
  BstrToVariant(text, &v);
  ASSERT_EQ(v.vt, VT_BSTR);
  EXPECT_NE(v.bstrVal, text);
  ASSERT_EQ(SysStringLen(v.bstrVal), 5u);
  EXPECT_EQ(v.bstrVal[4], u'd');
  SysFreeString(text);
  // The text of that value narrows up to the NUL only.
  EXPECT_STREQ(VariantToText(v).Narrow(), "ab");
}

TEST(ConvertTest, NarrowAndFrameworkTexts) {
  EXPECT_EQ(NarrowToBstr(nullptr), nullptr);
  BSTR b = NarrowToBstr("DSN=d\xC3\xA9mo");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(std::u16string(b), u"DSN=d\u00E9mo");
  EXPECT_EQ(SysStringLen(b), 8u);
  SysFreeString(b);

  ZR_TString s("SELECT '\xE2\x82\xAC'");
  BSTR w = StringToBstr(s);
  EXPECT_EQ(std::u16string(w), u"SELECT '\u20AC'");
  SysFreeString(w);
  EXPECT_EQ(StringToNarrow(s), "SELECT '\xE2\x82\xAC'");
  // No fixed buffer: a long statement comes through whole.
  std::string long_sql(5000, 'x');
  EXPECT_EQ(StringToNarrow(ZR_TString(long_sql.c_str())), long_sql);
  EXPECT_EQ(StringToNarrow(ZR_TString()), "");
}

}  // namespace
