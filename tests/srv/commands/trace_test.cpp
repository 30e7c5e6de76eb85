// The trace the commands write, read back from the server's trace file at
// debug levels 1, 2 and 3.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/srv/commands/suite.h"

namespace vqtest {
namespace {

using Texts = std::vector<std::string>;

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

using TraceLevel1Test = ServerSuite<1>;
using TraceLevel2Test = ServerSuite<2>;
using TraceLevel3Test = ServerSuite<3>;

TEST_F(TraceLevel1Test, SelectedRecordShowsItsFieldsAndTheGrowingLine) {
  const std::string sql = "SELECT x, y FROM pairs ORDER BY x";
  ASSERT_EQ(Query(sql, 2), "c|d");
  EXPECT_EQ(Server().LastRequestTexts(),
            (Texts{"Process query", "query - recordidx 2 DSN:DSN=" + Dsn() + " SQL " + sql,
                   "record nr 1 ", "record nr 2 ", " field name x", " field value c", "c",
                   " field name y", " field value d", "c|d"}));

  ASSERT_EQ(Query(sql, -1), "a|b|c|d");
  const Texts all = Server().LastRequestTexts();
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.back(), "End of recordset reached");
  for (const char* line : {"a", "a|b", "a|b|c", "a|b|c|d"}) {
    EXPECT_EQ(std::count(all.begin(), all.end(), line), 1) << line;
  }

  // Nothing selected: only the record lines, then the end.
  ASSERT_EQ(Query(sql, 0), "");
  EXPECT_EQ(Server().LastRequestTexts(),
            (Texts{"Process query", "query - recordidx 0 DSN:DSN=" + Dsn() + " SQL " + sql,
                   "record nr 1 ", "record nr 2 ", "End of recordset reached"}));
}

TEST_F(TraceLevel1Test, EmptyFieldsAndErrorsInTheTrace) {
  ASSERT_EQ(Query("SELECT i, t FROM mixed WHERE id = 2", 1), "7|");
  const Texts lines = Server().LastRequestTexts();
  const Texts tail(lines.end() - std::min<size_t>(lines.size(), 6), lines.end());
  EXPECT_EQ(tail, (Texts{" field name i", " field value 7", "7", " field name t",
                         " field value (empty)", "7|"}));

  const std::string error = Query("SELEC nonsense", -1);
  ASSERT_TRUE(StartsWith(error, "Error code = ")) << error;
  EXPECT_EQ(Server().LastRequestTexts().back(), error);
}

TEST_F(TraceLevel1Test, OpenTracesTheStateOrTheErrorDetails) {
  ASSERT_EQ(OpenBody(Dsn()), R"({"Status":true})");
  EXPECT_EQ(Server().LastRequestTexts(),
            (Texts{"Process open", " open DSN=" + Dsn(), "Connection state: open "}));

  ASSERT_EQ(OpenBody("no_such_dsn_here"), R"({"Status":false})");
  const Texts lines = Server().LastRequestTexts();
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(lines[1], " open DSN=no_such_dsn_here");
  // The ADO errors of the connection, then the four lines of the COM error.
  EXPECT_TRUE(StartsWith(lines[2], "Error number: 80004005\t[")) << lines[2];
  const size_t n = lines.size();
  EXPECT_EQ(lines[n - 4], "\tCode = 80004005");
  EXPECT_TRUE(StartsWith(lines[n - 3], "\tCode meaning = ")) << lines[n - 3];
  EXPECT_GT(lines[n - 3].size(), std::string("\tCode meaning = ").size());
  EXPECT_EQ(lines[n - 2], "\tSource = ADODB.Connection");
  EXPECT_TRUE(StartsWith(lines[n - 1], "\tDescription = [")) << lines[n - 1];
  for (size_t i = 2; i < n - 4; ++i) {
    EXPECT_TRUE(StartsWith(lines[i], "Error number: ")) << lines[i];
  }
}

TEST_F(TraceLevel2Test, UnselectedRecordsAreDisplayedWithAnEmptyLine) {
  const std::string sql = "SELECT x, y FROM pairs ORDER BY x";
  ASSERT_EQ(Query(sql, 2), "c|d");
  const std::vector<TraceLine> expected = {
      {1, "Process query"},
      {1, "query - recordidx 2 DSN:DSN=" + Dsn() + " SQL " + sql},
      {2, "record state 1 "},
      {2, "record status 0 "},
      {1, "record nr 1 "},
      {1, ""},
      {2, "Displaying record set nr 1"},
      {2, "x = a"},
      {2, "y = b"},
      {1, "record nr 2 "},
      {1, " field name x"},
      {1, " field value c"},
      {1, "c"},
      {1, " field name y"},
      {1, " field value d"},
      {1, "c|d"},
  };
  EXPECT_EQ(Server().LastRequestTrace(), expected);
}

TEST_F(TraceLevel2Test, NullsInUnselectedRecordsShowAndDoNotFail) {
  ASSERT_EQ(Query("SELECT t, i FROM mixed ORDER BY id", 3), "x|8");
  const Texts lines = Server().LastRequestTexts();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "t = "), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "t = (null)"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Displaying record set nr 2"), lines.end());

  // A statement without a record set stops after its state.
  ASSERT_EQ(Query("INSERT INTO scratch VALUES (1, 'traced')", -1), "");
  EXPECT_EQ(Server().LastRequestTexts().back(), "record state 0 ");
}

TEST_F(TraceLevel3Test, SelectedFieldsShowStatusAttributesAndType) {
  ASSERT_EQ(Query("SELECT v FROM measures WHERE id = 1", 1), "1234.5");
  const Texts lines = Server().LastRequestTexts();
  const auto name = std::find(lines.begin(), lines.end(), " field name v");
  ASSERT_NE(name, lines.end());
  ASSERT_GE(lines.end() - name, 6);
  EXPECT_TRUE(StartsWith(name[1], "  status ")) << name[1];
  EXPECT_TRUE(StartsWith(name[2], "  attributes ")) << name[2];
  EXPECT_EQ(name[3], "  type 5");
  EXPECT_EQ(name[4], " field value 1234.5");
  EXPECT_EQ(name[5], "1234.5");
}

}  // namespace
}  // namespace vqtest
