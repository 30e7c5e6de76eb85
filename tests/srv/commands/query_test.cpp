// "query" end to end against a SQLite data source.
#include <cstdio>
#include <string>

#include "tests/srv/commands/suite.h"

namespace vqtest {
namespace {

using QueryTest = ServerSuite<0>;

bool IsErrorText(const std::string& reply) {
  return reply.rfind("Error code = 80004005 (", 0) == 0;
}

TEST_F(QueryTest, RecordSelectorPicksOneRecordAllOrNone) {
  const std::string sql = "SELECT x, y FROM pairs ORDER BY x";
  EXPECT_EQ(Query(sql, -1), "a|b|c|d");
  EXPECT_EQ(Query(sql, 1), "a|b");
  EXPECT_EQ(Query(sql, 2), "c|d");
  EXPECT_EQ(Query(sql, 0), "");
  EXPECT_EQ(Query(sql, -5), "");
  EXPECT_EQ(Query(sql, 3), "");
  EXPECT_EQ(Query(sql, 1000000), "");
}

TEST_F(QueryTest, StatementWithoutRowsGivesTheEmptyText) {
  const std::string sql = "SELECT x, y FROM pairs WHERE x = 'none'";
  for (const int p3 : {-1, 0, 1, 2}) EXPECT_EQ(Query(sql, p3), "") << p3;
}

TEST_F(QueryTest, StatementsWithoutRecordSetGiveTheEmptyTextAndChangeTheData) {
  EXPECT_EQ(Query("CREATE TABLE made_here (k INTEGER, v TEXT)", 0), "");
  EXPECT_EQ(Query("INSERT INTO made_here VALUES (1, 'one'), (2, 'two')", -1), "");
  EXPECT_EQ(Query("SELECT k, v FROM made_here ORDER BY k", -1), "1|one|2|two");
  EXPECT_EQ(Query("UPDATE made_here SET v = 'uno' WHERE k = 1", 1), "");
  EXPECT_EQ(Query("SELECT v FROM made_here WHERE k = 1", 1), "uno");
  EXPECT_EQ(Query("  insert into made_here values (3, 'three')", 2), "");
  EXPECT_EQ(Query("DELETE FROM made_here WHERE k = 2", -1), "");
  EXPECT_EQ(Query("SELECT k FROM made_here ORDER BY k", -1), "1|3");
  EXPECT_EQ(Query("DROP TABLE made_here", -1), "");
  EXPECT_TRUE(IsErrorText(Query("SELECT k FROM made_here", -1)));
}

TEST_F(QueryTest, FailuresAnswerTheErrorText) {
  const std::string missing = Query("SELECT 1", -1, "no_such_dsn_here");
  EXPECT_TRUE(IsErrorText(missing)) << missing;
  EXPECT_NE(missing.find("(Source="), std::string::npos) << missing;

  const std::string bad = Query("SELEC nonsense FROM nowhere", -1);
  EXPECT_TRUE(IsErrorText(bad)) << bad;
  // The service goes on answering after an error.
  EXPECT_EQ(Query("SELECT x FROM pairs ORDER BY x", 2), "c");
}

TEST_F(QueryTest, DoublesTakeTheFixedPrecisionForm) {
  const char* const expected[] = {"1234.5", "-1234.56789", "100", "3.141592654",
                                  "100000000000000000000", "-0.5", "0"};
  for (int id = 1; id <= 7; ++id) {
    EXPECT_EQ(Query("SELECT v FROM measures WHERE id = " + std::to_string(id), 1),
              expected[id - 1])
        << id;
  }
  // All of them in one line, in record order.
  EXPECT_EQ(Query("SELECT v FROM measures WHERE id <= 7 ORDER BY id", -1),
            "1234.5|-1234.56789|100|3.141592654|100000000000000000000|-0.5|0");

  // A huge value comes whole: every integer digit of the double.
  char whole[512];
  std::snprintf(whole, sizeof whole, "%.0f", 1e300);
  const std::string huge = Query("SELECT v FROM measures WHERE id = 8", 1);
  EXPECT_EQ(huge, whole);
  EXPECT_EQ(huge.size(), 301u);
}

TEST_F(QueryTest, NullsAndEmptyTextsAddOnlyTheirSeparator) {
  EXPECT_EQ(Query("SELECT i, t, d FROM mixed WHERE id = 1", 1), "7||2.5");  // ''
  EXPECT_EQ(Query("SELECT i, t, d FROM mixed WHERE id = 2", 1), "7||2.5");  // NULL
  EXPECT_EQ(Query("SELECT i, t, d FROM mixed ORDER BY id", 3), "8|x|");
  EXPECT_EQ(Query("SELECT t FROM mixed ORDER BY id", -1), "||x");
}

TEST_F(QueryTest, OneRecordFarDownALongResult) {
  EXPECT_EQ(Query("CREATE TABLE seq AS WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL "
                  "SELECT n + 1 FROM s WHERE n < 1500) SELECT n FROM s",
                  0),
            "");
  EXPECT_EQ(Query("SELECT n, n * 2 FROM seq ORDER BY n", 1234), "1234|2468");
  EXPECT_EQ(Query("SELECT count(*) FROM seq", 1), "1500");
}

// A database error is answered 200 with its text in the reply, and counted
// apart from the answers that carry data.
TEST_F(QueryTest, DatabaseErrorsAreCountedAsTheirOwnOutcome) {
  const auto count = [](const std::string& command, const std::string& outcome) {
    const std::string text = Server().Get("/metrics").body;
    const std::string key = "vqsrv_requests_total{command=\"" + command + "\",outcome=\"" + outcome + "\"} ";
    const size_t at = text.find(key);
    return at == std::string::npos ? 0L : std::stol(text.substr(at + key.size()));
  };
  const long query_errors = count("query", "db_error"), query_ok = count("query", "ok");
  const long dbg_errors = count("querydbg", "db_error");
  EXPECT_EQ(Query("SELECT * FROM no_such_table", -1).rfind("Error code = ", 0), 0u);
  EXPECT_EQ(Query("SELECT 1", -1), "1");
  const auto dbg = QueryDbg("SELECT * FROM no_such_table");
  ASSERT_TRUE(dbg.IsObject() && dbg.HasMember("Status"));
  EXPECT_FALSE(dbg["Status"].GetBool());
  EXPECT_EQ(count("query", "db_error"), query_errors + 1);
  EXPECT_EQ(count("query", "ok"), query_ok + 1);
  EXPECT_EQ(count("querydbg", "db_error"), dbg_errors + 1);
}

}  // namespace
}  // namespace vqtest
