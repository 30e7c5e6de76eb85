// The main cases of "open", "query" and "querydbg" on each database: a
// SQLite file, and the throwaway PostgreSQL and MariaDB servers through the
// DSNs "pgtest" and "mariatest". The tables are made and dropped through
// the service itself.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/srv/commands/backends.h"
#include "tests/srv/commands/test_data.h"
#include "tests/support/odbc_env.h"
#include "tests/support/vqsrv_process.h"
#include "tests/support/vqsrv_requests.h"

namespace vqtest {
namespace {

template <class B>
class BackendCommandsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ini_ = B::OdbcIni(dsn_, why_not_);
    if (ini_.empty()) return;
    server_ = std::make_unique<VqsrvProcess>(ini_, 2);
    table_ = "vq_cmd_" + std::to_string(getpid());
    Query("DROP TABLE IF EXISTS " + table_, 0);
    ASSERT_EQ(Query("CREATE TABLE " + table_ + " (id integer, x text, y varchar(20), d double precision)", 0), "");
    ASSERT_EQ(Query("INSERT INTO " + table_ + " VALUES (1, 'a', 'b', 1234.5), (2, 'c', NULL, -0.5), (3, '', 'e', 1e300)",
                    -1),
              "");
  }
  static void TearDownTestSuite() {
    if (server_) Query("DROP TABLE " + table_, 0);
    server_.reset();
  }

  void SetUp() override {
    if (server_) return;
    if (RequirePg()) FAIL() << "the database is required: " << why_not_;
    GTEST_SKIP() << "database not available: " << why_not_;
  }

  static std::string Query(const std::string& sql, int p3) {
    const auto doc = server_->Call(QueryRequest(dsn_, sql, p3));
    if (!doc.IsString()) return "<no string>";
    return std::string(doc.GetString(), doc.GetStringLength());
  }
  static rapidjson::Document QueryDbg(const std::string& sql) { return server_->Call(QueryDbgRequest(dsn_, sql)); }
  static std::string Text(const rapidjson::Value& v) {
    return v.IsString() ? std::string(v.GetString(), v.GetStringLength()) : "<not a string>";
  }
  // The "record nr" lines of the last request's trace: the records walked.
  static std::vector<std::string> RecordsWalked() {
    std::vector<std::string> walked;
    for (const std::string& line : server_->LastRequestTexts())
      if (line.rfind("record nr ", 0) == 0) walked.push_back(line);
    return walked;
  }

  static inline std::unique_ptr<VqsrvProcess> server_;
  static inline std::string ini_;
  static inline std::string dsn_;
  static inline std::string table_;
  static inline std::string why_not_;
};

using Backends = ::testing::Types<SqliteBackend, PgBackend, MariaBackend>;

struct BackendNames {
  template <class B>
  static std::string GetName(int) {
    return B::kName;
  }
};

TYPED_TEST_SUITE(BackendCommandsTest, Backends, BackendNames);

TYPED_TEST(BackendCommandsTest, OpenReportsTheSource) {
  EXPECT_EQ(this->server_->Post(OpenRequest(this->dsn_)).body, R"({"Status":true})");
  EXPECT_EQ(this->server_->Post(OpenRequest("no_such_dsn_here")).body, R"({"Status":false})");
}

TYPED_TEST(BackendCommandsTest, QueryRepliesAsOnEverySource) {
  const std::string& t = this->table_;
  const std::string sql = "SELECT x, y FROM " + t + " WHERE id < 3 ORDER BY id";
  EXPECT_EQ(this->Query(sql, -1), "a|b|c|");
  EXPECT_EQ(this->Query(sql, 1), "a|b");
  EXPECT_EQ(this->Query(sql, 2), "c|");
  EXPECT_EQ(this->Query(sql, 0), "");
  EXPECT_EQ(this->Query(sql, 5), "");
  EXPECT_EQ(this->Query("SELECT id, x, d FROM " + t + " WHERE id = 3", 1).substr(0, 20), "3||10000000000000000");
  EXPECT_EQ(this->Query("SELECT d FROM " + t + " ORDER BY id", 2), "-0.5");
  EXPECT_EQ(this->Query("SELECT d FROM " + t + " ORDER BY id", 1), "1234.5");

  // Level 2 is on: the record state line and the walk both work here.
  const auto lines = this->server_->LastRequestTexts();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[2], "record state 1 ");

  EXPECT_EQ(this->Query("UPDATE " + t + " SET y = 'z' WHERE id = 2", -1), "");
  EXPECT_EQ(this->Query("SELECT y FROM " + t + " WHERE id = 2", 1), "z");
  EXPECT_EQ(this->Query("UPDATE " + t + " SET y = NULL WHERE id = 2", -1), "");

  const std::string bad = this->Query("SELEC nonsense", -1);
  EXPECT_EQ(bad.rfind("Error code = 80004005 (", 0), 0u) << bad;
}

// "query" limits the records read to P3; the statement itself runs as the
// client wrote it, whatever its kind.
TYPED_TEST(BackendCommandsTest, RecordLimitLeavesTheStatementAlone) {
  const std::string t = this->table_ + "_lim";
  EXPECT_EQ(this->Query("DROP TABLE IF EXISTS " + t, 1), "");
  EXPECT_EQ(this->Query("CREATE TABLE " + t + " (a integer)", 1), "");
  EXPECT_EQ(this->Query("INSERT INTO " + t + " VALUES (1), (2), (3)", 1), "");
  EXPECT_EQ(this->Query("SELECT count(*) FROM " + t, -1), "3");  // all three went in
  EXPECT_EQ(this->Query("SELECT a FROM " + t + " ORDER BY a LIMIT 2", 1), "1");
  EXPECT_EQ(this->Query("SELECT a FROM " + t + " ORDER BY a LIMIT 2", 2), "2");
  EXPECT_EQ(this->Query("SELECT a FROM " + t + " ORDER BY a LIMIT 2", 3), "");
  if (TypeParam::kServer) {
    EXPECT_EQ(this->Query("SELECT a FROM " + t + " ORDER BY a FOR UPDATE", 1), "1");
  }

  // The walk stops at the limit: the trace shows only the records read.
  const std::string all = "SELECT a FROM " + t + " ORDER BY a";
  EXPECT_EQ(this->Query(all, 1), "1");
  EXPECT_EQ(this->RecordsWalked(), (std::vector<std::string>{"record nr 1 "}));
  EXPECT_EQ(this->Query(all, 2), "2");
  EXPECT_EQ(this->RecordsWalked(), (std::vector<std::string>{"record nr 1 ", "record nr 2 "}));
  EXPECT_EQ(this->Query(all, 4), "");
  EXPECT_EQ(this->RecordsWalked(), (std::vector<std::string>{"record nr 1 ", "record nr 2 ", "record nr 3 "}));
  EXPECT_EQ(this->Query(all, -1), "1|2|3");

  EXPECT_EQ(this->Query("UPDATE " + t + " SET a = a + 10", 2), "");
  EXPECT_EQ(this->Query("DELETE FROM " + t + " WHERE a > 11", 1), "");
  EXPECT_EQ(this->Query(all, -1), "11");
  EXPECT_EQ(this->Query("DROP TABLE " + t, 1), "");
}

// One record of a large result: the service reads no more of it, so its
// memory stays near what it takes idle (the PostgreSQL DSN steps through
// results with UseDeclareFetch=1; the SQLite driver is told the limit).
TYPED_TEST(BackendCommandsTest, FirstRecordOfAMillionReadsNoMore) {
  if (TypeParam::kBigTable == nullptr) GTEST_SKIP() << "this driver reads a whole result before its first row";
  const std::string t = this->table_ + "_big";
  std::string create = TypeParam::kBigTable;
  create.replace(create.find("%T"), 2, t);
  this->Query("DROP TABLE IF EXISTS " + t, 0);
  ASSERT_EQ(this->Query(create, 0), "");

  VqsrvProcess fresh(this->ini_, 0);
  auto query = [&](const std::string& sql, int p3) {
    const auto doc = fresh.Call(QueryRequest(this->dsn_, sql, p3));
    return doc.IsString() ? std::string(doc.GetString(), doc.GetStringLength()) : "<no string>";
  };
  ASSERT_EQ(query("SELECT * FROM " + t + " WHERE id = 2", 1), "2|text 2|1");
  const long idle = fresh.PeakMemoryKb();
  const auto start = std::chrono::steady_clock::now();
  // Without ORDER BY, as a client looking at a table would ask: some row.
  const std::string first = query("SELECT * FROM " + t, 1);
  const std::string id = first.substr(0, first.find('|'));
  EXPECT_EQ(first, id + "|text " + id + "|" + (std::stol(id) % 2 ? std::to_string(std::stol(id) / 2) + ".5"
                                                                   : std::to_string(std::stol(id) / 2)));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long peak = fresh.PeakMemoryKb();
  ::testing::Test::RecordProperty("seconds", std::to_string(seconds));
  ::testing::Test::RecordProperty("peak_kb_over_idle", std::to_string(peak - idle));
  std::printf("first of 1,000,000 records: %.3f s, peak memory %ld kB over idle (%ld kB)\n", seconds, peak - idle,
              idle);
  ASSERT_GT(idle, 0);
  // The whole result would take some 100 MB.
  EXPECT_LT(peak - idle, 16 * 1024);
  this->Query("DROP TABLE " + t, 0);
}

TYPED_TEST(BackendCommandsTest, QueryDbgGivesRowsNullsAndErrors) {
  const std::string& t = this->table_;
  const auto doc = this->QueryDbg("SELECT id, x, y, d FROM " + t + " WHERE id < 3 ORDER BY id");
  ASSERT_TRUE(doc.IsObject());
  ASSERT_TRUE(doc.HasMember("Results") && doc["Results"].IsArray());
  EXPECT_TRUE(doc["Status"].IsBool() && doc["Status"].GetBool());
  const auto& rows = doc["Results"];
  ASSERT_EQ(rows.Size(), 2u);
  EXPECT_EQ(this->Text(rows[0]["id"]), "1");
  EXPECT_EQ(this->Text(rows[0]["x"]), "a");
  EXPECT_EQ(this->Text(rows[0]["y"]), "b");
  EXPECT_EQ(this->Text(rows[0]["d"]), "1234.5");
  EXPECT_TRUE(rows[1]["y"].IsNull());
  EXPECT_EQ(this->Text(rows[1]["d"]), "-0.5");

  const auto none = this->QueryDbg("SELECT id FROM " + t + " WHERE id < 0");
  ASSERT_TRUE(none.IsObject() && none.HasMember("Results"));
  EXPECT_EQ(none["Results"].Size(), 0u);

  const auto ins = this->QueryDbg("INSERT INTO " + t + " VALUES (4, 'f', 'g', 2.5)");
  ASSERT_TRUE(ins.IsObject() && ins.HasMember("Results"));
  EXPECT_EQ(ins["Results"].Size(), 0u);
  EXPECT_TRUE(ins["Status"].GetBool());
  EXPECT_EQ(this->Query("SELECT x FROM " + t + " WHERE id = 4", 1), "f");

  const auto bad = this->QueryDbg("SELECT * FROM no_such_table_here");
  ASSERT_TRUE(bad.IsObject());
  EXPECT_FALSE(bad.HasMember("Results"));
  ASSERT_TRUE(bad.HasMember("Errmsg"));
  EXPECT_FALSE(bad["Status"].GetBool());
  EXPECT_EQ(this->Text(bad["Errmsg"]).rfind("Error code = 80004005 (", 0), 0u);
}

// Binary values read as two uppercase hex digits per byte in both commands;
// an empty value is the empty text and a null stays a null.
TYPED_TEST(BackendCommandsTest, BinaryValuesReadAsHex) {
  const std::string t = this->table_ + "_bin";
  const auto blob = [](const std::string& hex) {
    std::string literal = TypeParam::kBlobLiteral;
    return literal.replace(literal.find("%s"), 2, hex);
  };
  this->Query("DROP TABLE IF EXISTS " + t, 0);
  ASSERT_EQ(this->Query("CREATE TABLE " + t + " (id integer, b " + TypeParam::kBlobType + ")", 0), "");
  ASSERT_EQ(this->Query("INSERT INTO " + t + " VALUES (1, " + blob("00ff41") + "), (2, " + blob("") + "), (3, NULL)", -1),
            "");
  EXPECT_EQ(this->Query("SELECT id, b FROM " + t + " ORDER BY id", -1), "1|00FF41|2||3|");
  const auto doc = this->QueryDbg("SELECT * FROM " + t + " ORDER BY id");
  ASSERT_TRUE(doc.IsObject() && doc.HasMember("Results") && doc["Results"].IsArray());
  const auto& rows = doc["Results"];
  ASSERT_EQ(rows.Size(), 3u);
  EXPECT_EQ(this->Text(rows[0]["b"]), "00FF41");
  EXPECT_EQ(this->Text(rows[1]["b"]), "");
  EXPECT_TRUE(rows[2]["b"].IsNull());
  this->Query("DROP TABLE " + t, 0);
}

}  // namespace
}  // namespace vqtest
