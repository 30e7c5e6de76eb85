// Values read by "query" and "querydbg" against what each database's own
// client (sqlite3, psql, mariadb) prints for them: 64-bit and unsigned
// extremes, wide decimals, date-times just before midnight, long texts in
// several rows of one result, long column names. Where the service shapes a
// value on purpose (the fraction of a second dropped), the client's text is
// shaped the same way before comparing.
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/srv/commands/backends.h"
#include "tests/srv/commands/test_data.h"
#include "tests/support/vqsrv_process.h"
#include "tests/support/vqsrv_requests.h"
#include "tests/support/odbc_env.h"

namespace vqtest {
namespace {

// "2024-12-31 23:59:59.999999" -> "2024-12-31 23:59:59"
std::string CutFraction(const std::string& text) {
  const size_t point = text.find('.');
  return point == std::string::npos ? text : text.substr(0, point);
}

std::string Join(const std::vector<std::string>& values) {
  std::string line;
  for (size_t i = 0; i < values.size(); ++i) line += (i ? "|" : "") + values[i];
  return line;
}

// A mismatch of long texts, told briefly.
std::string Brief(const std::string& text) {
  return text.size() <= 60 ? "'" + text + "'" : "'" + text.substr(0, 30) + "...' (" + std::to_string(text.size()) + " bytes)";
}

template <class B>
class ValueTable : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string ini = B::OdbcIni(dsn_, why_not_);
    if (!ini.empty()) server_ = std::make_unique<VqsrvProcess>(ini, 0);
  }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    if (server_) return;
    if (RequirePg()) FAIL() << "the database is required: " << why_not_;
    GTEST_SKIP() << "database not available: " << why_not_;
  }

  static std::string Table(const std::string& base) { return base + "_" + std::to_string(getpid()); }

  // Runs sql (one column, rows in a fixed order, no nulls) through the
  // client and both commands: each record's text is the client's, passed
  // through shape.
  static void ExpectAsClientPrints(const std::string& sql, std::string (*shape)(const std::string&) = nullptr) {
    SCOPED_TRACE(sql.substr(0, 120));
    std::vector<std::string> expected = B::Client(sql);
    ASSERT_FALSE(expected.empty());
    if (shape != nullptr)
      for (std::string& text : expected) text = shape(text);

    const rapidjson::Document dbg = server_->Call(QueryDbgRequest(dsn_, sql));
    ASSERT_TRUE(dbg.IsObject() && dbg.HasMember("Results")) << "querydbg failed";
    const auto& rows = dbg["Results"];
    ASSERT_EQ(rows.Size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      ASSERT_TRUE(rows[i].IsObject() && rows[i].MemberCount() == 1);
      const auto& v = rows[i].MemberBegin()->value;
      const std::string got = v.IsString() ? std::string(v.GetString(), v.GetStringLength()) : "<not a string>";
      EXPECT_TRUE(got == expected[i]) << "querydbg record " << i + 1 << ": " << Brief(got) << ", client "
                                      << Brief(expected[i]);
    }
    const std::string all = Query(sql, -1);
    EXPECT_TRUE(all == Join(expected)) << "query P3=-1: " << Brief(all) << ", client " << Brief(Join(expected));
    const std::string last = Query(sql, static_cast<int>(expected.size()));
    EXPECT_TRUE(last == expected.back()) << "query P3=" << expected.size() << ": " << Brief(last);
  }

  // The keys of "querydbg" are the column names the client prints.
  static void ExpectNamesAsClientPrints(const std::string& sql) {
    const std::vector<std::string> client = B::Client(sql, true);
    ASSERT_FALSE(client.empty());
    std::vector<std::string> names;
    for (size_t start = 0;;) {
      const size_t bar = client[0].find('|', start);
      names.push_back(client[0].substr(start, bar == std::string::npos ? std::string::npos : bar - start));
      if (bar == std::string::npos) break;
      start = bar + 1;
    }
    const rapidjson::Document dbg = server_->Call(QueryDbgRequest(dsn_, sql));
    ASSERT_TRUE(dbg.IsObject() && dbg.HasMember("Results") && dbg["Results"].Size() == 1);
    std::vector<std::string> keys;
    for (const auto& m : dbg["Results"][0].GetObject())
      keys.emplace_back(m.name.GetString(), m.name.GetStringLength());
    EXPECT_EQ(keys, names);
  }

  static std::string Query(const std::string& sql, int p3) {
    const auto doc = server_->Call(QueryRequest(dsn_, sql, p3));
    return doc.IsString() ? std::string(doc.GetString(), doc.GetStringLength()) : "<no string>";
  }

  // Texts of 256, 4,000 and 1,000,000 characters (ASCII, accented, emoji)
  // between short ones, made by the database itself from `repeat`.
  // repeat(s, n): the SQL of s n times over; concat(a, b): of a then b.
  static void ExpectLongTextsAsClientPrints(const std::string& text_type,
                                            std::string (*repeat)(const std::string&, int),
                                            std::string (*concat)(const std::string&, const std::string&)) {
    const std::string t = Table("texts");
    Client("DROP TABLE IF EXISTS " + t);
    Client("CREATE TABLE " + t + " (id integer, v " + text_type + ")");
    Client("INSERT INTO " + t + " VALUES (1, 'short one'), (2, " + repeat("x", 256) + "), (3, 'short three'), (4, " +
           concat(repeat("y", 255), "'Z'") + "), (5, " + repeat("\xC3\xA9", 4000) + "), (6, " +
           repeat("\xF0\x9F\x98\x80", 300) + "), (7, " +
           concat(repeat("\xC3\xA9", 999999), "'\xF0\x9F\x98\x80'") + "), (8, " + repeat("\xF0\x9F\x98\x80", 4000) +
           "), (9, 'short nine')");
    ExpectAsClientPrints("SELECT v FROM " + t + " ORDER BY id");
    Client("DROP TABLE " + t);
  }

  static void Client(const std::string& sql) { B::Client(sql); }

  static inline std::unique_ptr<VqsrvProcess> server_;
  static inline std::string dsn_;
  static inline std::string why_not_;
};

using SqliteValues = ValueTable<SqliteBackend>;
using PgValues = ValueTable<PgBackend>;
using MariaValues = ValueTable<MariaBackend>;

// SQLite keeps any value in any column; the driver describes INTEGER as
// 32-bit and SMALLINT as 16-bit.
TEST_F(SqliteValues, IntegersWhateverTheDeclaredWidthAndTextsInIntegerColumns) {
  const std::string t = Table("big");
  Client("DROP TABLE IF EXISTS " + t);
  Client("CREATE TABLE " + t + " (id INTEGER PRIMARY KEY, a INT8, s SMALLINT, i INTEGER)");
  Client("INSERT INTO " + t + " VALUES (4294967297, 9007199254740993, 70000, 'abc'), (1, 1700000000000,"
         " -9223372036854775808, 9223372036854775807), (2, 1.5, -7, 0)");
  for (const char* column : {"id", "a", "s", "i"})
    ExpectAsClientPrints(std::string("SELECT ") + column + " FROM " + t + " ORDER BY id");
  Client("DROP TABLE " + t);
}

TEST_F(SqliteValues, DateTimesBeforeMidnightAndTextsADateCannotShow) {
  const std::string t = Table("moments");
  Client("DROP TABLE IF EXISTS " + t);
  Client("CREATE TABLE " + t + " (id INTEGER, ts TIMESTAMP, d DATE)");
  Client("INSERT INTO " + t + " VALUES (1, '2024-12-31 23:59:59.5', '2024-12-31'), (2, '2024-12-31 23:59:59.6',"
         " '0044-03-15'), (3, '2024-12-31 23:59:59.999999', '20000-01-01'), (4, '9999-12-31 23:59:59.6', 'abc'),"
         " (5, '2024-02-29 13:45:30+02:00', '2024-02-30')");
  ExpectAsClientPrints("SELECT ts FROM " + t + " WHERE id < 5 ORDER BY id", CutFraction);
  ExpectAsClientPrints("SELECT ts FROM " + t + " WHERE id = 5");
  ExpectAsClientPrints("SELECT d FROM " + t + " ORDER BY id");
  Client("DROP TABLE " + t);
}

TEST_F(SqliteValues, LongTextsInSeveralRows) {
  ExpectLongTextsAsClientPrints(
      "TEXT",
      [](const std::string& s, int n) { return "replace(hex(zeroblob(" + std::to_string(n) + ")), '00', '" + s + "')"; },
      [](const std::string& a, const std::string& b) { return a + " || " + b; });
}

TEST_F(SqliteValues, ColumnNamesWhole) {
  const std::string name(299, 'c');
  ExpectNamesAsClientPrints("SELECT 1 AS " + name + "a, 2 AS " + name + "b, 3 AS short");
}

// The demo's data source settings: statements that start with WITH and
// change data run whole.
TEST_F(SqliteValues, WithStatementsChangeDataOnTheDemoSettings) {
  std::string place, why_not;
  SqliteBackend::OdbcIni(place, why_not);
  const std::string demo = AddSampleDsn("demo", place);
  const std::string t = Table("ins");
  Client("DROP TABLE IF EXISTS " + t);
  Client("CREATE TABLE " + t + " (x INTEGER)");
  Client("INSERT INTO " + t + " VALUES (44), (45)");
  const auto query = [&](const std::string& sql) {
    const auto doc = server_->Call(QueryRequest(demo, sql, -1));
    return doc.IsString() ? std::string(doc.GetString(), doc.GetStringLength()) : "<no string>";
  };
  EXPECT_EQ(query("WITH a AS (SELECT 46) INSERT INTO " + t + " SELECT * FROM a"), "");
  EXPECT_EQ(query("WITH a AS (SELECT 44) DELETE FROM " + t + " WHERE x IN (SELECT * FROM a)"), "");
  EXPECT_EQ(SqliteBackend::Client("SELECT group_concat(x) FROM (SELECT x FROM " + t + " ORDER BY x)"),
            std::vector<std::string>{"45,46"});
  EXPECT_EQ(query("WITH a AS (SELECT x FROM " + t + ") SELECT count(*) FROM a"), "2");
  Client("DROP TABLE " + t);
}

TEST_F(PgValues, IntegersUnsignedAndWideDecimals) {
  const std::string t = Table("nums");
  Client("DROP TABLE IF EXISTS " + t);
  Client("CREATE TABLE " + t + " (id int, i8 bigint, o oid, n38 numeric(38,0), n numeric, f float8)");
  Client("INSERT INTO " + t + " VALUES (1, 9223372036854775807, 3000000000, 12345678901234567890123456789012345678,"
         " (2^100)::numeric, '-0'), (2, -9223372036854775808, 4294967295, -99999999999999999999999999999999999999,"
         " 12345678901234567890123456789012345678901234567890123456789012345, 0),"
         " (3, 0, 0, 1, 0.000000000000000000000000000012345, 2.5)");
  for (const char* column : {"i8", "o", "n38", "n", "f"})
    ExpectAsClientPrints(std::string("SELECT ") + column + " FROM " + t + " ORDER BY id");
  Client("DROP TABLE " + t);
}

TEST_F(PgValues, DateTimesBeforeMidnightAndEarlyYears) {
  const std::string t = Table("moments");
  Client("DROP TABLE IF EXISTS " + t);
  Client("CREATE TABLE " + t + " (id int, ts timestamp, d date)");
  Client("INSERT INTO " + t + " VALUES (1, '2024-12-31 23:59:59.5', '2024-12-31'), (2, '2024-12-31 23:59:59.6',"
         " '0099-12-31'), (3, '2024-12-31 23:59:59.999999', '0100-01-01'), (4, '9999-12-31 23:59:59.6', '9999-12-31')");
  ExpectAsClientPrints("SELECT ts FROM " + t + " ORDER BY id", CutFraction);
  ExpectAsClientPrints("SELECT d FROM " + t + " ORDER BY id");
  Client("DROP TABLE " + t);
}

// The PostgreSQL driver cannot hand these over as the server writes them
// ("infinity", "20000-01-01"): its text for them is no valid date
// ("0000-00-00", "2000-00-00"), which is what comes back, never a date it
// made up, and the rest of the request goes on.
TEST_F(PgValues, DatesTheDriverCannotConvertAreNoInventedDates) {
  const std::string sql = "SELECT d FROM (VALUES (1, 'infinity'::date), (2, '-infinity'::date), (3, '20000-01-01'::date),"
                          " (4, '2024-02-29'::date)) AS v(id, d) ORDER BY id";
  const rapidjson::Document dbg = server_->Call(QueryDbgRequest(dsn_, sql));
  ASSERT_TRUE(dbg.IsObject() && dbg.HasMember("Results"));
  const auto& rows = dbg["Results"];
  ASSERT_EQ(rows.Size(), 4u);
  const std::vector<std::string> client = PgBackend::Client(sql);
  ASSERT_EQ(client.size(), 4u);
  for (size_t i = 0; i < 3; ++i) {
    const std::string got = rows[i]["d"].GetString();
    EXPECT_TRUE(got == client[i] || got.find("-00") != std::string::npos) << got << " for " << client[i];
  }
  EXPECT_STREQ(rows[3]["d"].GetString(), "2024-02-29");
}

TEST_F(PgValues, LongTextsInSeveralRows) {
  ExpectLongTextsAsClientPrints(
      "text", [](const std::string& s, int n) { return "repeat('" + s + "', " + std::to_string(n) + ")"; },
      [](const std::string& a, const std::string& b) { return a + " || " + b; });
}

TEST_F(PgValues, ColumnNamesAsTheServerKeepsThem) {
  ExpectNamesAsClientPrints("SELECT 1 AS " + std::string(299, 'c') + "a, 2 AS short");
}

TEST_F(MariaValues, IntegersUnsignedAndWideDecimals) {
  const std::string t = Table("nums");
  Client("DROP TABLE IF EXISTS " + t);
  Client("CREATE TABLE " + t + " (id int, bu bigint unsigned, iu int unsigned, i8 bigint, tu tinyint unsigned,"
         " t1 tinyint(1), su smallint unsigned, d38 decimal(38,10), d65 decimal(65,0))");
  Client("INSERT INTO " + t + " VALUES (1, 18446744073709551615, 4294967295, 9223372036854775807, 255, 1, 65535,"
         " 1234567890123456789012345678.1234567891, 12345678901234567890123456789012345678901234567890123456789012345),"
         " (2, 0, 0, -9223372036854775808, 0, -128, 0, -9999999999999999999999999999.9999999999,"
         " -99999999999999999999999999999999999999999999999999999999999999999)");
  for (const char* column : {"bu", "iu", "i8", "tu", "t1", "su", "d38", "d65"})
    ExpectAsClientPrints(std::string("SELECT ") + column + " FROM " + t + " ORDER BY id");
  Client("DROP TABLE " + t);
}

TEST_F(MariaValues, DateTimesBeforeMidnightAndZeroDates) {
  const std::string t = Table("moments");
  Client("DROP TABLE IF EXISTS " + t);
  Client("CREATE TABLE " + t + " (id int, ts datetime(6), d date)");
  Client("SET SESSION sql_mode = ''; INSERT INTO " + t + " VALUES (1, '2024-12-31 23:59:59.5', '2024-12-31'),"
         " (2, '2024-12-31 23:59:59.6', '0000-00-00'), (3, '2024-12-31 23:59:59.999999', '0001-01-01'),"
         " (4, '9999-12-31 23:59:59.6', '0099-12-31')");
  ExpectAsClientPrints("SELECT ts FROM " + t + " ORDER BY id", CutFraction);
  ExpectAsClientPrints("SELECT d FROM " + t + " ORDER BY id");
  Client("DROP TABLE " + t);
}

TEST_F(MariaValues, LongTextsInSeveralRows) {
  ExpectLongTextsAsClientPrints(
      "longtext", [](const std::string& s, int n) { return "repeat('" + s + "', " + std::to_string(n) + ")"; },
      [](const std::string& a, const std::string& b) { return "concat(" + a + ", " + b + ")"; });
}

TEST_F(MariaValues, ColumnNamesAsTheServerKeepsThem) {
  ExpectNamesAsClientPrints("SELECT 1 AS " + std::string(299, 'c') + "a, 2 AS short");
}

}  // namespace
}  // namespace vqtest
