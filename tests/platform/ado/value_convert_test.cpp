// Conversions of driver values and the column type mapping.
#include <gtest/gtest.h>

#include "platform/ado/column_type.h"
#include "platform/ado/value_convert.h"

namespace zado {
namespace {

DECIMAL Parse(const char16_t* text, bool* ok) {
  DECIMAL d{};
  *ok = ParseDecimal(text, &d);
  return d;
}

TEST(ParseDecimal, ExactValuesScalesAndLimits) {
  bool ok = false;
  DECIMAL d = Parse(u"12.34", &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(d.Lo64, 1234u);
  EXPECT_EQ(d.scale, 2);
  EXPECT_EQ(d.sign, 0);

  d = Parse(u" -0.050 ", &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(d.Lo64, 50u);
  EXPECT_EQ(d.scale, 3);
  EXPECT_EQ(d.sign, DECIMAL_NEG);

  d = Parse(u"-0", &ok);  // no negative zero
  ASSERT_TRUE(ok);
  EXPECT_EQ(d.sign, 0);

  d = Parse(u"1.5e3", &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(d.Lo64, 1500u);
  EXPECT_EQ(d.scale, 0);

  d = Parse(u"25E-2", &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(d.Lo64, 25u);
  EXPECT_EQ(d.scale, 2);

  // 2^96 - 1 is the largest magnitude; one more does not fit.
  d = Parse(u"79228162514264337593543950335", &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(d.Hi32, 0xFFFFFFFFu);
  EXPECT_EQ(d.Lo64, 0xFFFFFFFFFFFFFFFFull);
  Parse(u"79228162514264337593543950336", &ok);
  EXPECT_FALSE(ok);

  // Trailing zeros beyond scale 28 are dropped; other digits there do not fit.
  d = Parse(u"1.000000000000000000000000000000000", &ok);
  ASSERT_TRUE(ok);
  EXPECT_LE(d.scale, 28);
  Parse(u"0.00000000000000000000000000001", &ok);
  EXPECT_FALSE(ok);

  for (const char16_t* bad : {u"", u"-", u".", u"1.2.3", u"12a", u"NaN", u"1e", u"\u0661"}) {
    Parse(bad, &ok);
    EXPECT_FALSE(ok) << "accepted a text that is no number";
  }
}

TEST(NumericTextToVariant, FallsBackToTheExactText) {
  VARIANT v;
  ASSERT_EQ(NumericTextToVariant(u"-7.50", &v), S_OK);
  EXPECT_EQ(v.vt, VT_DECIMAL);
  EXPECT_EQ(v.decVal.Lo64, 750u);
  VariantClear(&v);

  // Beyond 96 bits or 28 places: the digits as the driver gave them, none
  // lost to a double.
  for (const char16_t* wide : {u"123456789012345678901234567890123", u"-99999999999999999999999999999999999999",
                               u"1234567890123456789012345678.1234567890", u"0.00000000000000000000000000001"}) {
    ASSERT_EQ(NumericTextToVariant(wide, &v), S_OK);
    ASSERT_EQ(v.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(v.bstrVal, SysStringLen(v.bstrVal)), wide);
    VariantClear(&v);
  }

  ASSERT_EQ(NumericTextToVariant(u"NaN", &v), S_OK);
  ASSERT_EQ(v.vt, VT_BSTR);
  EXPECT_EQ(std::u16string(v.bstrVal, SysStringLen(v.bstrVal)), u"NaN");
  VariantClear(&v);
}

TEST(DateFromParts, CountsDaysFrom1899December30) {
  EXPECT_DOUBLE_EQ(DateFromParts(1899, 12, 30, 0, 0, 0, 0), 0.0);
  EXPECT_DOUBLE_EQ(DateFromParts(1900, 1, 1, 12, 0, 0, 0), 2.5);
  EXPECT_DOUBLE_EQ(DateFromParts(2024, 2, 29, 0, 0, 0, 0), 45351.0);
  // Before the epoch the time of day still counts away from zero.
  EXPECT_DOUBLE_EQ(DateFromParts(1899, 12, 29, 6, 0, 0, 0), -1.25);
  EXPECT_NEAR(DateFromParts(2000, 1, 1, 0, 0, 1, 500000000), 36526.0 + 1.5 / 86400.0, 1e-10);
}

DATE ParsedDate(const char16_t* text, bool* ok) {
  DATE d = -12345;
  *ok = ParseDateTime(text, &d);
  return d;
}

TEST(ParseDateTime, DropsFractionsAndRefusesWhatADateCannotShow) {
  bool ok = false;
  EXPECT_DOUBLE_EQ(ParsedDate(u"2024-02-29", &ok), 45351.0);
  EXPECT_TRUE(ok);
  EXPECT_DOUBLE_EQ(ParsedDate(u"18:00:00", &ok), 0.75);
  EXPECT_TRUE(ok);
  EXPECT_DOUBLE_EQ(ParsedDate(u"18:00", &ok), 0.75);
  EXPECT_TRUE(ok);
  // The fraction is cut, never rounded: the last second of a year stays in it.
  const DATE last = DateFromParts(2024, 12, 31, 23, 59, 59, 0);
  for (const char16_t* text : {u"2024-12-31 23:59:59", u"2024-12-31 23:59:59.5", u"2024-12-31 23:59:59.6",
                               u"2024-12-31 23:59:59.999999", u"2024-12-31T23:59:59.999999999"}) {
    EXPECT_DOUBLE_EQ(ParsedDate(text, &ok), last) << static_cast<int>(text[20]);
    EXPECT_TRUE(ok);
  }
  EXPECT_DOUBLE_EQ(ParsedDate(u"9999-12-31 23:59:59.6", &ok), DateFromParts(9999, 12, 31, 23, 59, 59, 0));
  EXPECT_TRUE(ok);
  EXPECT_DOUBLE_EQ(ParsedDate(u"0100-01-01", &ok), DateFromParts(100, 1, 1, 0, 0, 0, 0));
  EXPECT_TRUE(ok);
  for (const char16_t* other :
       {u"infinity", u"-infinity", u"20000-01-01", u"0099-12-31", u"0000-00-00", u"2024-02-30", u"2023-02-29",
        u"2024-13-01", u"2024-00-10", u"0044-03-15 BC", u"2024-02-29 13:45:30+02:00", u"2024-02-29 24:00:00",
        u"838:59:59", u"-01:00:00", u"2460000.5", u"abc", u"", u"2024-02-29 ", u"2024-02-29 13:45:30.",
        u"12:60:00", u"2024-2-29"}) {
    ParsedDate(other, &ok);
    EXPECT_FALSE(ok) << "took a text that is no date it can show";
  }
}

TEST(ParseInteger, WholeNumbersThatFitOnly) {
  uint64_t v = 0;
  EXPECT_TRUE(ParseInteger(u"4294967297", false, &v));
  EXPECT_EQ(v, 4294967297u);
  EXPECT_TRUE(ParseInteger(u"-9223372036854775808", false, &v));
  EXPECT_EQ(static_cast<int64_t>(v), INT64_MIN);
  EXPECT_TRUE(ParseInteger(u"9223372036854775807", false, &v));
  EXPECT_EQ(static_cast<int64_t>(v), INT64_MAX);
  EXPECT_FALSE(ParseInteger(u"9223372036854775808", false, &v));
  EXPECT_FALSE(ParseInteger(u"-9223372036854775809", false, &v));
  EXPECT_TRUE(ParseInteger(u"18446744073709551615", true, &v));
  EXPECT_EQ(v, UINT64_MAX);
  EXPECT_FALSE(ParseInteger(u"18446744073709551616", true, &v));
  EXPECT_FALSE(ParseInteger(u"-1", true, &v));
  EXPECT_TRUE(ParseInteger(u"+7", false, &v));
  EXPECT_EQ(v, 7u);
  for (const char16_t* other : {u"abc", u"1.5", u"1e3", u" 7", u"7 ", u"", u"-", u"0x10", u"1.0e+20"})
    EXPECT_FALSE(ParseInteger(other, false, &v)) << "took a text that is no whole number";
}

TEST(MapColumnType, TypesSizesAndAttributes) {
  auto map = [](SQLSMALLINT sql_type, SQLULEN size, SQLSMALLINT nullable, bool is_unsigned = false) {
    ColumnInfo c;
    c.sql_type = sql_type;
    c.column_size = size;
    c.nullable = nullable;
    c.is_unsigned = is_unsigned;
    MapColumnType(&c);
    return c;
  };
  ColumnInfo c = map(SQL_WLONGVARCHAR, 8190, SQL_NULLABLE);
  EXPECT_EQ(c.ado_type, adLongVarWChar);
  EXPECT_EQ(c.kind, ValueKind::kText);
  EXPECT_EQ(c.defined_size, 8190);
  EXPECT_EQ(c.attributes, adFldMayBeNull | adFldIsNullable | adFldLong);

  c = map(SQL_INTEGER, 10, SQL_NO_NULLS);
  EXPECT_EQ(c.ado_type, adInteger);
  EXPECT_EQ(c.defined_size, 4);
  EXPECT_EQ(c.attributes, adFldFixed);

  c = map(SQL_FLOAT, 15, SQL_NULLABLE_UNKNOWN);
  EXPECT_EQ(c.ado_type, adDouble);
  EXPECT_EQ(c.attributes, adFldMayBeNull | adFldFixed);

  c = map(SQL_VARCHAR, SQLULEN{1} << 40, SQL_NO_NULLS);  // huge sizes are capped
  EXPECT_EQ(c.ado_type, adVarChar);
  EXPECT_EQ(c.defined_size, INT32_MAX);

  EXPECT_EQ(map(SQL_GUID, 36, SQL_NO_NULLS).ado_type, adVarWChar);
  EXPECT_EQ(map(SQL_GUID, 36, SQL_NO_NULLS).kind, ValueKind::kText);
  EXPECT_EQ(map(SQL_TINYINT, 3, SQL_NO_NULLS, true).kind, ValueKind::kUI1);
  EXPECT_EQ(map(SQL_TINYINT, 3, SQL_NO_NULLS, false).kind, ValueKind::kI2);
  EXPECT_EQ(map(SQL_TINYINT, 3, SQL_NO_NULLS, false).ado_type, adTinyInt);
  EXPECT_EQ(map(SQL_DECIMAL, 12, SQL_NO_NULLS).ado_type, adNumeric);
  EXPECT_EQ(map(SQL_DECIMAL, 12, SQL_NO_NULLS).defined_size, 12);
  EXPECT_EQ(map(SQL_LONGVARBINARY, 100, SQL_NO_NULLS).ado_type, adLongVarBinary);
  EXPECT_EQ(map(SQL_TYPE_TIME, 8, SQL_NO_NULLS).ado_type, adDBTime);
  EXPECT_EQ(map(SQL_REAL, 7, SQL_NO_NULLS).ado_type, adSingle);
  EXPECT_EQ(map(SQL_BIGINT, 19, SQL_NO_NULLS).ado_type, adBigInt);
  EXPECT_EQ(map(SQL_CHAR, 5, SQL_NO_NULLS).attributes, adFldFixed);
}

}  // namespace
}  // namespace zado
