// Binary values and times of day end to end against SQLite: "query",
// "querydbg" and the record trace all show a binary value as uppercase hex
// and a time of day without the date it carries.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/srv/commands/suite.h"

namespace vqtest {
namespace {

using Texts = std::vector<std::string>;

class BinaryTimeTest : public ServerSuite<2> {
 protected:
  static void SetUpTestSuite() {
    ServerSuite<2>::SetUpTestSuite();
    // One row each: three bytes, no bytes, a null, and 1,000,000 random
    // bytes whose hex the database itself gives in the next column.
    for (const char* sql : {
             "CREATE TABLE blobs (id INTEGER, data BLOB, check_hex TEXT)",
             "INSERT INTO blobs VALUES (1, x'00FF41', '00FF41'), (2, x'', ''), (3, NULL, NULL)",
             "INSERT INTO blobs (id, data) VALUES (4, randomblob(1000000))",
             "UPDATE blobs SET check_hex = hex(data) WHERE id = 4",
             "CREATE TABLE times (id INTEGER, t TIME, ts TIMESTAMP, d DATE)",
             "INSERT INTO times VALUES (1, '13:45:12', '2024-01-01 00:00:00', '2024-01-01'),"
             " (2, '00:00:00', '2024-01-01 13:45:12', '2023-12-31')",
         }) {
      ASSERT_EQ(Query(sql, -1), "") << sql;
    }
  }

  static std::string Text(const rapidjson::Value& v) {
    return v.IsString() ? std::string(v.GetString(), v.GetStringLength()) : "<not a string>";
  }
};

TEST_F(BinaryTimeTest, BinaryValuesReadAsHexThroughQueryAndQueryDbg) {
  EXPECT_EQ(Query("SELECT id, data FROM blobs WHERE id < 4 ORDER BY id", -1), "1|00FF41|2||3|");
  EXPECT_EQ(Query("SELECT * FROM blobs WHERE id = 1", 1), "1|00FF41|00FF41");

  const auto doc = QueryDbg("SELECT * FROM blobs WHERE id < 4 ORDER BY id");
  ASSERT_TRUE(doc.IsObject() && doc.HasMember("Results")) << "no results";
  const auto& rows = doc["Results"];
  ASSERT_EQ(rows.Size(), 3u);
  EXPECT_EQ(Text(rows[0]["data"]), "00FF41");
  EXPECT_EQ(Text(rows[1]["data"]), "");
  EXPECT_TRUE(rows[2]["data"].IsNull());
}

TEST_F(BinaryTimeTest, LargeBinaryValueComesBackWhole) {
  const std::string line = Query("SELECT data, check_hex FROM blobs WHERE id = 4", 1);
  const size_t bar = line.find('|');
  ASSERT_NE(bar, std::string::npos);
  EXPECT_EQ(bar, 2000000u);
  EXPECT_EQ(line.substr(0, bar), line.substr(bar + 1)) << "differs from the database's hex()";

  const auto doc = QueryDbg("SELECT data, check_hex FROM blobs WHERE id = 4");
  ASSERT_TRUE(doc.IsObject() && doc.HasMember("Results")) << "no results";
  const auto& rows = doc["Results"];
  ASSERT_EQ(rows.Size(), 1u);
  const std::string data = Text(rows[0]["data"]);
  EXPECT_EQ(data.size(), 2000000u);
  EXPECT_TRUE(data == Text(rows[0]["check_hex"]));
}

TEST_F(BinaryTimeTest, TraceShowsBinaryAsHexAndNullsAsBefore) {
  // Record 3 is selected (a null: an empty field); records 1 and 2 are
  // displayed as unselected at level 2, each value through the same text.
  ASSERT_EQ(Query("SELECT data FROM blobs WHERE id < 4 ORDER BY id", 3), "");
  const Texts lines = Server().LastRequestTexts();
  for (const char* expected : {"data = 00FF41", "data = ", " field value (empty)"}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected;
  }
  ASSERT_EQ(Query("SELECT data FROM blobs WHERE id = 1", 1), "00FF41");
  const Texts selected = Server().LastRequestTexts();
  EXPECT_NE(std::find(selected.begin(), selected.end(), " field value 00FF41"), selected.end());
}

TEST_F(BinaryTimeTest, TimesOfDayLeaveTheDateOutAndMidnightTheTime) {
  EXPECT_EQ(Query("SELECT t, ts, d FROM times ORDER BY id", -1),
            "13:45:12|2024-01-01|2024-01-01|00:00:00|2024-01-01 13:45:12|2023-12-31");
  const auto doc = QueryDbg("SELECT t, ts FROM times WHERE id = 1");
  ASSERT_TRUE(doc.IsObject() && doc.HasMember("Results")) << "no results";
  ASSERT_EQ(doc["Results"].Size(), 1u);
  EXPECT_EQ(Text(doc["Results"][0]["t"]), "13:45:12");
  EXPECT_EQ(Text(doc["Results"][0]["ts"]), "2024-01-01");
}

}  // namespace
}  // namespace vqtest
