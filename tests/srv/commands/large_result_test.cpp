// Large results against ZRM_MAX_REPLY, end to end through a vqsrv process:
// a result past the limit is refused with 500 "ReplyTooLarge" while the
// process stays within about the limit's size, the next requests are
// answered (a record limit and a selector that picks nothing are not
// refused), and a reply exactly at the limit comes back whole.
//
// On SQLite through a DSN whose driver steps through results (StepAPI=1)
// and on PostgreSQL (its DSN reads through a cursor, UseDeclareFetch=1): a
// driver that reads a whole result before its first row holds all of it
// before vqsrv can stop.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "tests/srv/commands/test_data.h"
#include "tests/support/vqsrv_process.h"
#include "tests/support/vqsrv_requests.h"
#include "tests/support/odbc_env.h"

namespace vqtest {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;  // shadow memory and quarantine make the peak meaningless
#else
constexpr bool kSanitized = false;
#endif

struct LargeSource {
  std::string name;
  // The odbc.ini and DSN; "" with the reason in why_not when unavailable.
  std::string (*ini)(std::string& dsn, std::string& why_not);
};

void PrintTo(const LargeSource& source, std::ostream* out) { *out << source.name; }

std::string SteppingSqlite(std::string& dsn, std::string& why_not) {
  static const SqliteSource source("CREATE TABLE seed (x integer);");
  static const std::string name = AddDsn(source.Dsn() + "_step", "Driver=SQLite3\nDatabase=" + source.Database() +
                                                                      "\nTimeout=2000\nStepAPI=1\n");
  dsn = name;
  return source.OdbcIni();
}

std::string Postgres(std::string& dsn, std::string& why_not) {
  dsn = "pgtest";
  return PgOdbcIni(why_not);
}

// rows generated rows; select: what each row shows.
std::string Generated(long rows, const std::string& select) {
  return "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < " + std::to_string(rows) +
         ") SELECT " + select + " FROM c";
}

class LargeResultTest : public ::testing::TestWithParam<LargeSource> {
 protected:
  void SetUp() override {
    std::string why_not;
    ini_ = GetParam().ini(dsn_, why_not);
    if (ini_.empty()) {
      if (RequirePg()) FAIL() << why_not;
      GTEST_SKIP() << why_not;
    }
  }

  std::string ini_;
  std::string dsn_;
};

TEST_P(LargeResultTest, RefusedResultStaysWithinTheLimitAndTheNextRequestIsAnswered) {
  constexpr long kLimit = 24L << 20;
  VqsrvProcess server(ini_, 0, {"ZRM_MAX_REPLY=" + std::to_string(kLimit)});
  ASSERT_TRUE(server.Call(QueryRequest(dsn_, "SELECT 1", 1)).IsString());
  const long idle_kb = server.PeakMemoryKb();
  ASSERT_GT(idle_kb, 0);

  // Some 60 MB as text, 100 MB as "querydbg" JSON.
  const std::string sql = Generated(3000000, "x, 'row ' || x AS t");
  // Below the limit as text, five times past it with the names "querydbg"
  // repeats in every record.
  const std::string named = Generated(1100000, "x AS a_column_name_of_forty_characters_one_xx,"
                                               " 'row ' || x AS a_column_name_of_forty_characters_two_xx");
  for (const std::string& request :
       {QueryRequest(dsn_, sql, -1), QueryDbgRequest(dsn_, sql), QueryDbgRequest(dsn_, named)}) {
    const HttpAnswer reply = server.Post(request);
    EXPECT_EQ(reply.status, 500u) << request.substr(0, 20);
    EXPECT_NE(reply.body.find("\"type\":\"ReplyTooLarge\""), std::string::npos) << reply.body;
    EXPECT_NE(reply.body.find(std::to_string(kLimit) + " bytes (ZRM_MAX_REPLY)"), std::string::npos) << reply.body;
  }
  const long peak_kb = server.PeakMemoryKb();
  const long bound_kb = kLimit / 1024 * 13 / 10 + 4096;  // 1.3 x the limit and a few MB
  std::printf("%s: refused results peaked at %ld kB over idle (%ld kB); bound %ld kB\n", GetParam().name.c_str(),
              peak_kb - idle_kb, idle_kb, bound_kb);
  ::testing::Test::RecordProperty("peak_kb_over_idle", std::to_string(peak_kb - idle_kb));
  if (!kSanitized) {
    EXPECT_LE(peak_kb - idle_kb, bound_kb);
  }

  // A record limit reads no further; a selector that picks no record has
  // the empty text as its reply, whatever the rows.
  const auto seventh = server.Call(QueryRequest(dsn_, sql, 7));
  ASSERT_TRUE(seventh.IsString());
  EXPECT_STREQ(seventh.GetString(), "7|row 7");
  const auto none = server.Call(QueryRequest(dsn_, sql, 0));
  ASSERT_TRUE(none.IsString());
  EXPECT_STREQ(none.GetString(), "");
  const auto small = server.Call(QueryDbgRequest(dsn_, Generated(3, "x")));
  ASSERT_TRUE(small.IsObject() && small.HasMember("Results"));
  EXPECT_EQ(small["Results"].Size(), 3u);
}

TEST_P(LargeResultTest, ReplyAtTheLimitComesBackWhole) {
  // "query" of n rows of 'abcdefg': 8n + 1 bytes; "querydbg" of n rows of
  // {"t":"abcdefghi"}: 18n + 27 bytes. Both are exactly the limit here.
  constexpr long kLimit = 1800009;
  constexpr long kQueryRows = 225001;
  constexpr long kQueryDbgRows = 99999;
  VqsrvProcess server(ini_, 0, {"ZRM_MAX_REPLY=" + std::to_string(kLimit)});

  HttpAnswer reply = server.Post(QueryRequest(dsn_, Generated(kQueryRows, "'abcdefg' AS t"), -1));
  ASSERT_EQ(reply.status, 200u) << reply.body.substr(0, 300);
  EXPECT_EQ(reply.body.size(), static_cast<size_t>(kLimit));
  std::string expected = "\"abcdefg";
  for (long i = 1; i < kQueryRows; ++i) expected += "|abcdefg";
  EXPECT_TRUE(reply.body == expected + "\"") << reply.body.substr(0, 100);
  reply = server.Post(QueryRequest(dsn_, Generated(kQueryRows + 1, "'abcdefg' AS t"), -1));
  EXPECT_EQ(reply.status, 500u);
  EXPECT_NE(reply.body.find("ReplyTooLarge"), std::string::npos) << reply.body;

  reply = server.Post(QueryDbgRequest(dsn_, Generated(kQueryDbgRows, "'abcdefghi' AS t")));
  ASSERT_EQ(reply.status, 200u) << reply.body.substr(0, 300);
  EXPECT_EQ(reply.body.size(), static_cast<size_t>(kLimit));
  expected = "{\"Results\":[{\"t\":\"abcdefghi\"}";
  for (long i = 1; i < kQueryDbgRows; ++i) expected += ",{\"t\":\"abcdefghi\"}";
  EXPECT_TRUE(reply.body == expected + "],\"Status\":true}") << reply.body.substr(0, 100);
  reply = server.Post(QueryDbgRequest(dsn_, Generated(kQueryDbgRows + 1, "'abcdefghi' AS t")));
  EXPECT_EQ(reply.status, 500u);
  EXPECT_NE(reply.body.find("ReplyTooLarge"), std::string::npos) << reply.body;
}

INSTANTIATE_TEST_SUITE_P(Drivers, LargeResultTest,
                         ::testing::Values(LargeSource{"sqlite_step", &SteppingSqlite},
                                           LargeSource{"postgres", &Postgres}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vqtest
