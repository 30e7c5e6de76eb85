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

TEST(NumericTextToVariant, FallsBackToDoubleThenText) {
  VARIANT v;
  ASSERT_EQ(NumericTextToVariant(u"-7.50", &v), S_OK);
  EXPECT_EQ(v.vt, VT_DECIMAL);
  EXPECT_EQ(v.decVal.Lo64, 750u);
  VariantClear(&v);

  ASSERT_EQ(NumericTextToVariant(u"123456789012345678901234567890123", &v), S_OK);
  ASSERT_EQ(v.vt, VT_R8);
  EXPECT_DOUBLE_EQ(v.dblVal, 1.23456789012345678901234567890123e32);
  VariantClear(&v);

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
  SQL_TIME_STRUCT t{18, 0, 0};
  EXPECT_DOUBLE_EQ(DateFromOdbc(t), 0.75);
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
