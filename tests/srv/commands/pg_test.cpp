// The main cases of "open", "query" and "querydbg" against PostgreSQL
// through the DSN "pgtest". The table is made and dropped through the
// service itself.
#include <unistd.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "tests/srv/commands/test_data.h"
#include "tests/support/odbc_env.h"
#include "tests/srv/commands/vqsrv_process.h"

namespace vqtest {
namespace {

class PgCommandsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string ini = PgOdbcIni(why_not_);
    if (ini.empty()) return;
    server_ = std::make_unique<VqsrvProcess>(ini, 2);
    table_ = "vq_cmd_" + std::to_string(getpid());
    Query("DROP TABLE IF EXISTS " + table_, 0);
    ASSERT_EQ(Query("CREATE TABLE " + table_ +
                        " (id integer, x text, y varchar(20), d double precision)",
                    0),
              "");
    ASSERT_EQ(Query("INSERT INTO " + table_ +
                        " VALUES (1, 'a', 'b', 1234.5), (2, 'c', NULL, -0.5), (3, '', 'e', 1e300)",
                    -1),
              "");
  }
  static void TearDownTestSuite() {
    if (server_) Query("DROP TABLE " + table_, 0);
    server_.reset();
  }

  void SetUp() override {
    if (server_) return;
    if (RequirePg()) FAIL() << "PostgreSQL is required: " << why_not_;
    GTEST_SKIP() << "PostgreSQL not available: " << why_not_;
  }

  static std::string Query(const std::string& sql, int p3) {
    const auto doc = server_->Call(QueryRequest("pgtest", sql, p3));
    if (!doc.IsString()) return "<no string>";
    return std::string(doc.GetString(), doc.GetStringLength());
  }
  static rapidjson::Document QueryDbg(const std::string& sql) {
    return server_->Call(QueryDbgRequest("pgtest", sql));
  }
  static std::string Text(const rapidjson::Value& v) {
    return v.IsString() ? std::string(v.GetString(), v.GetStringLength()) : "<not a string>";
  }

  static inline std::unique_ptr<VqsrvProcess> server_;
  static inline std::string table_;
  static inline std::string why_not_;
};

TEST_F(PgCommandsTest, OpenReportsTheSource) {
  EXPECT_EQ(server_->Post(OpenRequest("pgtest")).body, R"({"Status":true})");
  EXPECT_EQ(server_->Post(OpenRequest("pg_no_such_dsn")).body, R"({"Status":false})");
}

TEST_F(PgCommandsTest, QueryRepliesAsOnEverySource) {
  const std::string sql = "SELECT x, y FROM " + table_ + " WHERE id < 3 ORDER BY id";
  EXPECT_EQ(Query(sql, -1), "a|b|c|");
  EXPECT_EQ(Query(sql, 1), "a|b");
  EXPECT_EQ(Query(sql, 2), "c|");
  EXPECT_EQ(Query(sql, 0), "");
  EXPECT_EQ(Query(sql, 5), "");
  EXPECT_EQ(Query("SELECT id, x, d FROM " + table_ + " WHERE id = 3", 1).substr(0, 20),
            "3||10000000000000000");
  EXPECT_EQ(Query("SELECT d FROM " + table_ + " ORDER BY id", 2), "-0.5");
  EXPECT_EQ(Query("SELECT d FROM " + table_ + " ORDER BY id", 1), "1234.5");

  // Level 2 is on: the record state line and the walk both work here.
  const auto lines = server_->LastRequestTexts();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[2], "record state 1 ");

  EXPECT_EQ(Query("UPDATE " + table_ + " SET y = 'z' WHERE id = 2", -1), "");
  EXPECT_EQ(Query("SELECT y FROM " + table_ + " WHERE id = 2", 1), "z");
  EXPECT_EQ(Query("UPDATE " + table_ + " SET y = NULL WHERE id = 2", -1), "");

  const std::string bad = Query("SELEC nonsense", -1);
  EXPECT_EQ(bad.rfind("Error code = 80004005 (", 0), 0u) << bad;
}

TEST_F(PgCommandsTest, QueryDbgGivesRowsNullsAndErrors) {
  const auto doc = QueryDbg("SELECT id, x, y, d FROM " + table_ + " WHERE id < 3 ORDER BY id");
  ASSERT_TRUE(doc.IsObject());
  ASSERT_TRUE(doc.HasMember("Results") && doc["Results"].IsArray());
  EXPECT_TRUE(doc["Status"].IsBool() && doc["Status"].GetBool());
  const auto& rows = doc["Results"];
  ASSERT_EQ(rows.Size(), 2u);
  EXPECT_EQ(Text(rows[0]["id"]), "1");
  EXPECT_EQ(Text(rows[0]["x"]), "a");
  EXPECT_EQ(Text(rows[0]["y"]), "b");
  EXPECT_EQ(Text(rows[0]["d"]), "1234.5");
  EXPECT_TRUE(rows[1]["y"].IsNull());
  EXPECT_EQ(Text(rows[1]["d"]), "-0.5");

  const auto none = QueryDbg("SELECT id FROM " + table_ + " WHERE id < 0");
  ASSERT_TRUE(none.IsObject() && none.HasMember("Results"));
  EXPECT_EQ(none["Results"].Size(), 0u);

  const auto ins = QueryDbg("INSERT INTO " + table_ + " VALUES (4, 'f', 'g', 2.5)");
  ASSERT_TRUE(ins.IsObject() && ins.HasMember("Results"));
  EXPECT_EQ(ins["Results"].Size(), 0u);
  EXPECT_TRUE(ins["Status"].GetBool());
  EXPECT_EQ(Query("SELECT x FROM " + table_ + " WHERE id = 4", 1), "f");

  const auto bad = QueryDbg("SELECT * FROM no_such_table_here");
  ASSERT_TRUE(bad.IsObject());
  EXPECT_FALSE(bad.HasMember("Results"));
  ASSERT_TRUE(bad.HasMember("Errmsg"));
  EXPECT_FALSE(bad["Status"].GetBool());
  EXPECT_EQ(Text(bad["Errmsg"]).rfind("Error code = 80004005 (", 0), 0u);
}

TEST_F(PgCommandsTest, ByteaReadsAsHexAndTimesOfDayWithoutTheDate) {
  const std::string bin = table_ + "_bin";
  Query("DROP TABLE IF EXISTS " + bin, 0);
  ASSERT_EQ(Query("CREATE TABLE " + bin + " (id integer, b bytea)", 0), "");
  ASSERT_EQ(Query("INSERT INTO " + bin + " VALUES (1, '\\x00ff41'), (2, ''), (3, NULL),"
                  " (4, decode(repeat('00ff41a5', 250000), 'hex'))", -1),
            "");

  EXPECT_EQ(Query("SELECT id, b FROM " + bin + " WHERE id < 4 ORDER BY id", -1), "1|00FF41|2||3|");
  EXPECT_EQ(Query("SELECT * FROM " + bin + " WHERE id = 1", 1), "1|00FF41");
  const auto doc = QueryDbg("SELECT * FROM " + bin + " WHERE id < 4 ORDER BY id");
  ASSERT_TRUE(doc.IsObject() && doc.HasMember("Results")) << "no results";
  const auto& rows = doc["Results"];
  ASSERT_EQ(rows.Size(), 3u);
  EXPECT_EQ(Text(rows[0]["b"]), "00FF41");
  EXPECT_EQ(Text(rows[1]["b"]), "");
  EXPECT_TRUE(rows[2]["b"].IsNull());

  // 1,000,000 bytes, checked against the server's own hex form.
  const std::string big =
      Query("SELECT b, upper(encode(b, 'hex')) FROM " + bin + " WHERE id = 4", 1);
  const size_t bar = big.find('|');
  ASSERT_NE(bar, std::string::npos);
  EXPECT_EQ(bar, 2000000u);
  EXPECT_TRUE(big.compare(0, bar, big, bar + 1) == 0) << "differs from encode(b, 'hex')";
  const auto big_doc = QueryDbg("SELECT b FROM " + bin + " WHERE id = 4");
  ASSERT_TRUE(big_doc.IsObject() && big_doc.HasMember("Results")) << "no results";
  ASSERT_EQ(big_doc["Results"].Size(), 1u);
  EXPECT_TRUE(Text(big_doc["Results"][0]["b"]) == big.substr(0, bar));
  Query("DROP TABLE " + bin, 0);

  // The fraction of a second is not shown; midnight leaves the time out.
  EXPECT_EQ(Query("SELECT '13:45:12'::time, '13:45:12.5'::time, '00:00:00'::time,"
                  " '2024-01-01 00:00'::timestamp, '2024-01-01 13:45:12'::timestamp",
                  1),
            "13:45:12|13:45:12|00:00:00|2024-01-01|2024-01-01 13:45:12");
  const auto times = QueryDbg("SELECT '13:45:12'::time AS t");
  ASSERT_TRUE(times.IsObject() && times.HasMember("Results")) << "no results";
  EXPECT_EQ(Text(times["Results"][0]["t"]), "13:45:12");
}

}  // namespace
}  // namespace vqtest
