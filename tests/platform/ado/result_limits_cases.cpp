// Bounds on what a recordset holds: the text limit counts exactly what the
// values take as text, MaxRecords is exempt from it, and a forward-only walk
// reads every row while the rows behind it are given back.
#include <string>

#include "tests/platform/ado/backend.h"

namespace adotest {
namespace {

constexpr int kRows = 140000;  // three blocks of rows

// Integers growing past one, two and four bytes (and negative ones), texts
// of one and two bytes per character in UTF-8 with one past U+00FF in the
// middle of the second block only, and nulls. (Made from digits: MariaDB
// stops a recursive WITH after 1000 rounds.)
std::string Generated(int rows) {
  const std::string digits = "(SELECT 0 AS x UNION ALL SELECT 1 UNION ALL SELECT 2 UNION ALL SELECT 3 UNION ALL SELECT 4"
                             " UNION ALL SELECT 5 UNION ALL SELECT 6 UNION ALL SELECT 7 UNION ALL SELECT 8"
                             " UNION ALL SELECT 9)";
  return "SELECT i, i - 70000 AS d, CASE WHEN i % 2 = 0 THEN '\xC3\xA9' WHEN i = 100000 THEN 'ab\xE2\x82\xAC'"
         " ELSE 'ab' END AS t, CASE WHEN i % 3 = 0 THEN NULL ELSE 'x' END AS n FROM (SELECT a.x + 10 * b.x + 100 * c.x"
         " + 1000 * e.x + 10000 * f.x + 100000 * g.x + 1 AS i FROM " + digits + " a, " + digits + " b, " + digits +
         " c, " + digits + " e, " + digits + " f, (SELECT 0 AS x UNION ALL SELECT 1) g) q WHERE i <= " +
         std::to_string(rows) + " ORDER BY i";
}

std::string ExpectedText(int i, int column) {
  switch (column) {
    case 0: return std::to_string(i);
    case 1: return std::to_string(i - 70000);
    case 2: return i % 2 == 0 ? "\xC3\xA9" : i == 100000 ? "ab\xE2\x82\xAC" : "ab";
    default: return i % 3 == 0 ? "<null>" : "x";
  }
}

// The text size of Generated(rows): each value's UTF-8 text plus one byte.
uint64_t TextSize(int rows) {
  uint64_t size = 0;
  for (int i = 1; i <= rows; ++i)
    for (int column = 0; column < 4; ++column) {
      const std::string text = ExpectedText(i, column);
      size += 1 + (text == "<null>" ? 0 : text.size());
    }
  return size;
}

// Sets the process's bounds for one test and puts the defaults back.
class LimitsScope {
 public:
  explicit LimitsScope(const AdoResultLimits& limits) { AdoSetResultLimits(limits); }
  ~LimitsScope() { AdoSetResultLimits(AdoResultLimits{}); }
};

std::string CellText(_Recordset* rs, LONG column) {
  Ptr<Field> f;
  *f.Out() = GetField(rs, column);
  Var value;
  if (f->get_Value(&value.v) != S_OK) return "<failed>";
  if (value.v.vt == VT_NULL) return "<null>";
  Var text;
  if (VariantChangeType(&text.v, &value.v, 0, VT_BSTR) != S_OK) return "<vt " + std::to_string(value.v.vt) + ">";
  return U8(text.v.bstrVal);
}

}  // namespace

TEST_P(BackendTest, TextLimitRefusesAResultOnlyPastIt) {
  const std::string sql = Generated(kRows);
  const uint64_t size = TextSize(kRows);
  {
    LimitsScope limits(AdoResultLimits{size, false});
    Ptr<_Recordset> rs;
    *rs.Out() = NewRecordset();
    ASSERT_EQ(OpenRecordset(rs.get(), sql, conn_), S_OK) << "at its text size: " << TakeErrorInfo();
    LONG count = 0;
    EXPECT_EQ(rs->get_RecordCount(&count), S_OK);
    EXPECT_EQ(count, kRows);
  }
  {
    LimitsScope limits(AdoResultLimits{size - 1, false});
    Ptr<_Recordset> rs;
    *rs.Out() = NewRecordset();
    EXPECT_EQ(OpenRecordset(rs.get(), sql, conn_), kAdoResultTooLarge);
    const std::string error = TakeErrorInfo();
    EXPECT_NE(error.find("ADODB.Recordset|"), std::string::npos) << error;
    EXPECT_NE(error.find(std::to_string(size - 1) + " bytes"), std::string::npos) << error;
    LONG state = -1;
    EXPECT_EQ(rs->get_State(&state), S_OK);
    EXPECT_EQ(state, adStateClosed);
    // The same recordset opens the next statement.
    ASSERT_EQ(OpenRecordset(rs.get(), "SELECT 'next' AS t", conn_), S_OK) << TakeErrorInfo();
    EXPECT_EQ(FieldText(rs.get(), 0), "next");
  }
  {
    // MaxRecords bounds a result by itself.
    LimitsScope limits(AdoResultLimits{1, false});
    Ptr<_Recordset> rs;
    *rs.Out() = NewRecordset();
    ASSERT_EQ(rs->put_MaxRecords(kRows - 1), S_OK);
    ASSERT_EQ(OpenRecordset(rs.get(), sql, conn_), S_OK) << TakeErrorInfo();
    LONG count = 0;
    EXPECT_EQ(rs->get_RecordCount(&count), S_OK);
    EXPECT_EQ(count, kRows - 1);
  }
}

TEST_P(BackendTest, ForwardOnlyWalkReadsEveryRowAcrossBlocks) {
  LimitsScope limits(AdoResultLimits{0, true});
  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  ASSERT_EQ(OpenRecordset(rs.get(), Generated(kRows), conn_), S_OK) << TakeErrorInfo();
  LONG count = 0;
  ASSERT_EQ(rs->get_RecordCount(&count), S_OK);
  ASSERT_EQ(count, kRows);
  int wrong = 0;
  for (int i = 1; i <= kRows; ++i) {
    for (LONG column = 0; column < 4; ++column) {
      const std::string text = CellText(rs.get(), column);
      if (text != ExpectedText(i, column) && ++wrong <= 5)
        ADD_FAILURE() << "row " << i << " column " << column << ": " << text;
    }
    ASSERT_EQ(rs->MoveNext(), S_OK);
  }
  EXPECT_EQ(wrong, 0);
  VARIANT_BOOL eof = VARIANT_FALSE;
  EXPECT_EQ(rs->get_EOF(&eof), S_OK);
  EXPECT_EQ(eof, VARIANT_TRUE);
  // Still counted as read, but there is no way back.
  EXPECT_EQ(rs->get_RecordCount(&count), S_OK);
  EXPECT_EQ(count, kRows);
  EXPECT_EQ(rs->MoveFirst(), MakeHr(0x800A0CB3));
  EXPECT_EQ(rs->Close(), S_OK);
}

}  // namespace adotest
