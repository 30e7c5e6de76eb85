#include "srv/db/field_text.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "platform/com/comsupp.h"
#include "tests/support/fake_ado/connection.h"
#include "tests/support/fake_ado/recordset.h"

namespace {

TEST(FormatDoubleTest, PrecisionRule) {
  EXPECT_EQ(FormatDouble(1234.5), "1234.5");
  EXPECT_EQ(FormatDouble(-1234.56789), "-1234.56789");
  EXPECT_EQ(FormatDouble(100.0), "100");
  EXPECT_EQ(FormatDouble(3.14159265358979), "3.141592654");
  EXPECT_EQ(FormatDouble(1.0E20), "100000000000000000000");
  EXPECT_EQ(FormatDouble(-0.5), "-0.5");
  EXPECT_EQ(FormatDouble(0.0), "0");
  EXPECT_EQ(FormatDouble(0.1), "0.10000000000000000555");  // 20 significant digits
  EXPECT_EQ(FormatDouble(2.5), "2.5");
  EXPECT_EQ(FormatDouble(1.0), "1");
}

// The fast formatting must write exactly what printf's "%.<p>g" writes in
// the "C" locale, for every magnitude and for denormals.
TEST(FormatDoubleTest, SameTextAsPrintf) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> exponent(-320.0, 308.0);
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  for (int i = 0; i < 20000; ++i) {
    double v = mantissa(random) * std::pow(10.0, exponent(random));
    if (i % 2) v = -v;
    if (i % 7 == 0) v = std::round(v * 1000.0) / 1000.0;  // short decimals
    if (!std::isfinite(v)) continue;
    const double magnitude = std::fabs(v);
    const int precision = magnitude >= 1.0 ? static_cast<int>(std::log10(magnitude)) + 10 : 20;
    std::string expected(512, '\0');
    expected.resize(static_cast<size_t>(std::snprintf(expected.data(), expected.size(), "%.*g", precision, v)));
    ASSERT_EQ(FormatDouble(v), expected) << i;
  }
  EXPECT_EQ(FormatDouble(4.9406564584124654e-324), "4.9406564584124654418e-324");
}

TEST(FormatDoubleTest, HugeValuesAreWholeAndSpecialValuesKeepTheirText) {
  for (double v : {1e248, 1e300, DBL_MAX, -DBL_MAX}) {
    const std::string text = FormatDouble(v);
    const size_t digits = static_cast<size_t>(std::floor(std::log10(std::fabs(v)))) + 1;
    EXPECT_EQ(text.size(), digits + (v < 0 ? 1 : 0)) << text.substr(0, 20);
    EXPECT_EQ(text.find_first_not_of("-0123456789"), std::string::npos);
    EXPECT_EQ(text.find('e'), std::string::npos);
  }
  EXPECT_EQ(FormatDouble(DBL_MAX).substr(0, 17), "17976931348623157");
  EXPECT_EQ(FormatDouble(INFINITY), "inf");
  EXPECT_EQ(FormatDouble(-INFINITY), "-inf");
  const std::string nan = FormatDouble(NAN);
  EXPECT_TRUE(nan == "nan" || nan == "-nan") << nan;
}

// Appends every field of the current record as record `record` of a walk
// with selector `selector`.
void AppendRecord(ResultLine& line, fake::FakeRecord& rec, int32_t record, int32_t selector) {
  RecordsetPtr rs(&rec.rs, true);
  _variant_t index;
  index.vt = VT_I2;
  for (int32_t i = 0; i < static_cast<int32_t>(rec.fields.items.size()); ++i) {
    index.iVal = static_cast<SHORT>(i);
    AppendField(line, rs, index, i, record, selector);
  }
}

TEST(AppendFieldTest, SeparatorsAndPaths) {
  fake::FakeRecord rec;
  rec.Add(u"id").SetInt(7);
  rec.Add(u"name").SetText(u"abc");
  rec.Add(u"price").SetDouble(2.5);
  ResultLine line(0, true);
  AppendRecord(line, rec, 1, 1);
  EXPECT_EQ(line.Text(), "7|abc|2.5");
  // The selected record alone, even when it is not the first walked.
  line = ResultLine(0, true);
  AppendRecord(line, rec, 3, 3);
  EXPECT_EQ(line.Text(), "7|abc|2.5");
  // Every record: the second record continues after a separator.
  line = ResultLine(0, true);
  AppendRecord(line, rec, 1, -1);
  AppendRecord(line, rec, 2, -1);
  EXPECT_EQ(line.Text(), "7|abc|2.5|7|abc|2.5");

  rec.owned[1]->SetText(u"");
  rec.owned[1]->size = 0;
  line = ResultLine(0, true);
  AppendRecord(line, rec, 1, 1);
  EXPECT_EQ(line.Text(), "7||2.5");

  // A double takes the number form in the line.
  rec.owned[2]->SetDouble(3.14159265358979);
  line = ResultLine(0, true);
  AppendRecord(line, rec, 1, 1);
  EXPECT_EQ(line.Text(), "7||3.141592654");
}

TEST(AppendFieldTest, EmptyFieldsAreNeverRead) {
  fake::FakeRecord rec;
  for (const char16_t* n : {u"a", u"b", u"c"}) rec.Add(n).SetNull();
  ResultLine line(0, true);
  AppendRecord(line, rec, 1, 1);
  EXPECT_EQ(line.Text(), "||");
  for (fake::FakeField* f : rec.owned) EXPECT_EQ(f->log, (std::vector<std::string>{"ActualSize"}));
  EXPECT_EQ(rec.fields.index_types, (std::vector<VARTYPE>(3, VT_I2)));
}

TEST(AppendFieldTest, ValuesThatCannotBeCoercedRaise) {
  fake::FakeRecord rec;
  fake::FakeField& f = rec.Add(u"x");
  f.SetNull();
  f.size = 4;  // a provider that reports a size for a null
  ResultLine line(0, true);
  line.Append("kept");
  try {
    AppendRecord(line, rec, 1, 1);
    FAIL() << "a null value has no text";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(e.ErrorInfo(), nullptr);
  }
  f.type = adDouble;
  f.SetText(u"not a number");
  f.type = adDouble;
  try {
    AppendRecord(line, rec, 1, 1);
    FAIL() << "'not a number' is no double";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), DISP_E_TYPEMISMATCH);
  }
  // A failing read raises the object's error.
  f.SetText(u"x");
  f.fail["ActualSize"] = adErrNoCurrentRecord;
  try {
    AppendRecord(line, rec, 1, 1);
    FAIL();
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), adErrNoCurrentRecord);
  }
  EXPECT_EQ(line.Text(), "kept");
  EXPECT_EQ(f.refs, 1);
  EXPECT_EQ(rec.fields.refs, 1);
}

}  // namespace
