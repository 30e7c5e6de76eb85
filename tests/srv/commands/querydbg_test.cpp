// "querydbg" end to end against a SQLite data source.
#include <string>
#include <vector>

#include "tests/srv/commands/suite.h"

namespace vqtest {
namespace {

using QueryDbgTest = ServerSuite<0>;

// Keys of an object, in their order.
std::vector<std::string> Keys(const rapidjson::Value& object) {
  std::vector<std::string> keys;
  if (!object.IsObject()) return {"<not an object>"};
  for (auto it = object.MemberBegin(); it != object.MemberEnd(); ++it) {
    keys.emplace_back(it->name.GetString(), it->name.GetStringLength());
  }
  return keys;
}

std::string Text(const rapidjson::Value& v) {
  return v.IsString() ? std::string(v.GetString(), v.GetStringLength()) : "<not a string>";
}

using Keys_t = std::vector<std::string>;

// Status true and the Results array, which the caller then reads.
const rapidjson::Value& Results(const rapidjson::Document& doc) {
  static const rapidjson::Value none;
  EXPECT_EQ(Keys(doc), (Keys_t{"Results", "Status"}));
  if (!doc.IsObject() || !doc.HasMember("Results") || !doc["Results"].IsArray()) return none;
  EXPECT_TRUE(doc["Status"].IsBool() && doc["Status"].GetBool());
  return doc["Results"];
}

void ExpectFailure(const rapidjson::Document& doc) {
  EXPECT_EQ(Keys(doc), (Keys_t{"Status", "Errmsg"}));
  if (!doc.IsObject() || !doc.HasMember("Errmsg")) return;
  EXPECT_TRUE(doc["Status"].IsBool() && !doc["Status"].GetBool());
  EXPECT_EQ(Text(doc["Errmsg"]).rfind("Error code = 80004005 (", 0), 0u) << Text(doc["Errmsg"]);
}

TEST_F(QueryDbgTest, RowsComeAsDictionariesInFieldOrder) {
  const auto doc = QueryDbg("SELECT y, x FROM pairs ORDER BY x");
  const auto& rows = Results(doc);
  ASSERT_TRUE(rows.IsArray());
  ASSERT_EQ(rows.Size(), 2u);
  EXPECT_EQ(Keys(rows[0]), (Keys_t{"y", "x"}));
  EXPECT_EQ(Text(rows[0]["y"]), "b");
  EXPECT_EQ(Text(rows[0]["x"]), "a");
  EXPECT_EQ(Text(rows[1]["y"]), "d");
  EXPECT_EQ(Text(rows[1]["x"]), "c");

  // Numbers arrive as text: integers as their digits.
  const auto nums = QueryDbg("SELECT id, i AS n, d FROM mixed WHERE id = 1");
  const auto& row = Results(nums);
  ASSERT_EQ(row.Size(), 1u);
  EXPECT_EQ(Keys(row[0]), (Keys_t{"id", "n", "d"}));
  EXPECT_EQ(Text(row[0]["id"]), "1");
  EXPECT_EQ(Text(row[0]["n"]), "7");
  EXPECT_EQ(Text(row[0]["d"]), "2.5");
}

TEST_F(QueryDbgTest, NoRowsIsAnEmptyArrayAndSuccess) {
  const auto doc = QueryDbg("SELECT x FROM pairs WHERE x = 'none'");
  const auto& rows = Results(doc);
  ASSERT_TRUE(rows.IsArray());
  EXPECT_EQ(rows.Size(), 0u);
}

TEST_F(QueryDbgTest, NullsStayApartFromEmptyTexts) {
  const auto doc = QueryDbg("SELECT t, d FROM mixed ORDER BY id");
  const auto& rows = Results(doc);
  ASSERT_EQ(rows.Size(), 3u);
  ASSERT_TRUE(rows[0]["t"].IsString());
  EXPECT_EQ(Text(rows[0]["t"]), "");
  EXPECT_TRUE(rows[1]["t"].IsNull());
  EXPECT_EQ(Text(rows[2]["t"]), "x");
  EXPECT_TRUE(rows[2]["d"].IsNull());
  EXPECT_EQ(Text(rows[2].MemberBegin()->value), "x");
}

TEST_F(QueryDbgTest, FailuresGiveStatusFalseAndTheErrorText) {
  ExpectFailure(QueryDbg("SELEC nonsense FROM nowhere"));
  ExpectFailure(QueryDbg("SELECT 1", "no_such_dsn_here"));
}

TEST_F(QueryDbgTest, StatementsWithoutRecordSetSucceedWithNoRows) {
  const auto ins = QueryDbg("INSERT INTO scratch VALUES (41, 'dbg'), (42, 'dbg')");
  EXPECT_EQ(Results(ins).Size(), 0u);
  const auto upd = QueryDbg("UPDATE scratch SET v = 'changed' WHERE k = 42");
  EXPECT_EQ(Results(upd).Size(), 0u);
  const auto del = QueryDbg("DELETE FROM scratch WHERE k = 41");
  EXPECT_EQ(Results(del).Size(), 0u);

  const auto after = QueryDbg("SELECT k, v FROM scratch WHERE v IN ('dbg', 'changed')");
  const auto& rows = Results(after);
  ASSERT_EQ(rows.Size(), 1u);
  EXPECT_EQ(Text(rows[0]["k"]), "42");
  EXPECT_EQ(Text(rows[0]["v"]), "changed");
}

TEST_F(QueryDbgTest, LongTextsAreHandledWhole) {
  // A statement far past 2047 bytes whose meaning lives in its tail.
  const std::string padding(3000, 'p');
  const std::string sql = "SELECT '" + padding + "' AS long_value, x FROM pairs WHERE x = 'c'";
  const auto doc = QueryDbg(sql);
  const auto& rows = Results(doc);
  ASSERT_EQ(rows.Size(), 1u);
  EXPECT_EQ(Text(rows[0]["long_value"]), padding);
  EXPECT_EQ(Text(rows[0]["x"]), "c");

  // A client's attributes after the name are refused unless the operator
  // allows them; a long connection string made of allowed ones reaches the
  // driver whole (dsn_test.cpp).
  const std::string other = Source().MakeDatabase(
      "CREATE TABLE pairs (x TEXT, y TEXT); INSERT INTO pairs VALUES ('other', 'db');");
  const std::string dsn =
      Dsn() + ";Comment=" + std::string(300, 'c') + ";Database=" + other;
  ASSERT_GT(dsn.size(), 255u);
  ExpectFailure(QueryDbg("SELECT x, y FROM pairs ORDER BY x", dsn));
}

}  // namespace
}  // namespace vqtest
