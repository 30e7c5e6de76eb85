// PostgreSQL bytea and time values through "query" and "querydbg": binary
// values as uppercase hex (checked against the server's own encode()), times
// of day without a date.
#include <unistd.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "tests/srv/commands/test_data.h"
#include "tests/support/vqsrv_process.h"
#include "tests/support/vqsrv_requests.h"
#include "tests/support/odbc_env.h"

namespace vqtest {
namespace {

class PgBinaryTimeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string ini = PgOdbcIni(why_not_);
    if (ini.empty()) return;
    server_ = std::make_unique<VqsrvProcess>(ini, 0);
    table_ = "vq_bt_" + std::to_string(getpid());
  }
  static void TearDownTestSuite() { server_.reset(); }

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

TEST_F(PgBinaryTimeTest, ByteaReadsAsHexAndTimesOfDayWithoutTheDate) {
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
