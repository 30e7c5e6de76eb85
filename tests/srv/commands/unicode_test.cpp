// Texts with characters beyond U+FFFF, and inside it, through "query" and
// "querydbg" on SQLite and PostgreSQL: the bytes each database stores (read
// with its own client) and what the service answers.
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/srv/commands/test_data.h"
#include "tests/srv/commands/vqsrv_process.h"
#include "tests/support/db_client.h"
#include "tests/support/odbc_env.h"

namespace vqtest {
namespace {

enum class Db { kSqlite, kPostgres };

std::string DbName(const ::testing::TestParamInfo<Db>& info) {
  return info.param == Db::kSqlite ? "sqlite" : "postgres";
}

std::string Text(const rapidjson::Value& v) {
  return v.IsString() ? std::string(v.GetString(), v.GetStringLength()) : "<not a string>";
}

// Beyond U+FFFF: an emoji, two CJK Extension B characters, a flag made of
// two regional indicators, an emoji between letters.
const std::vector<std::string> kBeyondBmp = {"in\U0001F389", "\U00020000\U0002A700", "\U0001F1E9\U0001F1EA",
                                             "a\U0001F600b"};
// Inside U+FFFF: Latin, CJK, Greek and currency, and letters followed by
// combining marks (e + U+0301, n + U+0303, a + U+0308 + U+0301).
const std::vector<std::string> kInsideBmp = {"\u00E9\u4E2D", "\u03A9\u00DF\u20AC", "e\u0301",
                                             "n\u0303a\u0308\u0301"};

class UnicodeTest : public ::testing::TestWithParam<Db> {
 protected:
  static void SetUpTestSuite() {
    sqlite_ = std::make_unique<SqliteSource>("CREATE TABLE uni (id INTEGER, t TEXT);");
    pg_ini_ = PgOdbcIni(why_not_);
    if (!pg_ini_.empty()) {
      pg_table_ = "vq_uni_" + std::to_string(getpid());
      const std::string made = PsqlClient("DROP TABLE IF EXISTS " + pg_table_ + "; CREATE TABLE " + pg_table_ +
                                          " (id integer, t text);");
      if (!made.empty()) {
        why_not_ = made;
        pg_ini_.clear();
      }
    }
    // One odbc.ini holds both data sources.
    server_ = std::make_unique<VqsrvProcess>(sqlite_->OdbcIni(), 0);
  }
  static void TearDownTestSuite() {
    server_.reset();
    if (!pg_ini_.empty()) PsqlClient("DROP TABLE IF EXISTS " + pg_table_ + ";");
    sqlite_.reset();
  }

  void SetUp() override {
    if (GetParam() != Db::kPostgres || !pg_ini_.empty()) return;
    if (RequirePg()) FAIL() << "PostgreSQL is required: " << why_not_;
    GTEST_SKIP() << "PostgreSQL not available: " << why_not_;
  }

  static bool IsSqlite() { return GetParam() == Db::kSqlite; }
  static std::string Dsn() { return IsSqlite() ? sqlite_->Dsn() : "pgtest"; }
  static std::string Table() { return IsSqlite() ? "uni" : pg_table_; }

  static std::string Query(const std::string& sql, int p3) {
    const auto doc = server_->Call(QueryRequest(Dsn(), sql, p3));
    return doc.IsString() ? std::string(doc.GetString(), doc.GetStringLength()) : "<no string>";
  }
  static rapidjson::Document QueryDbg(const std::string& sql) { return server_->Call(QueryDbgRequest(Dsn(), sql)); }

  // The stored bytes of row id in hex, as the database's own client shows them.
  static std::string StoredHex(int id) {
    const std::string where = " FROM " + Table() + " WHERE id = " + std::to_string(id) + ";";
    return IsSqlite() ? SqliteClient(sqlite_->Database(), "SELECT lower(hex(t))" + where)
                      : PsqlClient("SELECT encode(convert_to(t, 'UTF8'), 'hex')" + where);
  }

  // Inserts text as row id through "query", then checks the stored bytes and
  // both replies that read it back.
  static void RoundTrip(int id, const std::string& text) {
    SCOPED_TRACE("text " + HexOf(text));
    const std::string key = std::to_string(id);
    ASSERT_EQ(Query("INSERT INTO " + Table() + " VALUES (" + key + ", '" + text + "')", -1), "");
    EXPECT_EQ(StoredHex(id), HexOf(text));
    const std::string select = "SELECT t FROM " + Table() + " WHERE id = " + key;
    EXPECT_EQ(Query(select, 1), text);
    const auto doc = QueryDbg(select);
    ASSERT_TRUE(doc.IsObject() && doc.HasMember("Results") && doc["Results"].IsArray());
    ASSERT_EQ(doc["Results"].Size(), 1u);
    EXPECT_EQ(Text(doc["Results"][0]["t"]), text);
  }

  // A literal, a column alias (the "querydbg" key) and the name of a missing
  // table (named in the error text), each holding text.
  static void NamesAndLiterals(const std::string& text) {
    SCOPED_TRACE("text " + HexOf(text));
    const auto literal = QueryDbg("SELECT 'x" + text + "y' AS lit, 1 AS \"c" + text + "\"");
    ASSERT_TRUE(literal.IsObject() && literal.HasMember("Results") && literal["Results"].IsArray());
    ASSERT_EQ(literal["Results"].Size(), 1u);
    const auto& row = literal["Results"][0];
    EXPECT_EQ(Text(row["lit"]), "x" + text + "y");
    ASSERT_EQ(row.MemberCount(), 2u);
    const auto alias = row.MemberBegin() + 1;
    EXPECT_EQ(std::string(alias->name.GetString(), alias->name.GetStringLength()), "c" + text);

    const std::string missing = "no_" + text + "_table";
    const auto failed = QueryDbg("SELECT * FROM \"" + missing + "\"");
    ASSERT_TRUE(failed.IsObject() && failed.HasMember("Errmsg"));
    EXPECT_NE(Text(failed["Errmsg"]).find(missing), std::string::npos) << Text(failed["Errmsg"]);
    const std::string reply = Query("SELECT * FROM \"" + missing + "\"", -1);
    EXPECT_EQ(reply.rfind("Error code = 80004005 (", 0), 0u) << reply;
    EXPECT_NE(reply.find(missing), std::string::npos) << reply;
  }

  static inline std::unique_ptr<SqliteSource> sqlite_;
  static inline std::unique_ptr<VqsrvProcess> server_;
  static inline std::string pg_ini_;
  static inline std::string pg_table_;
  static inline std::string why_not_;
};

TEST_P(UnicodeTest, TextsBeyondBmpAreStoredWholeAndReadBackExactly) {
  for (size_t i = 0; i < kBeyondBmp.size(); ++i) RoundTrip(static_cast<int>(100 + i), kBeyondBmp[i]);
  // All of them in one text, in one statement.
  std::string all;
  for (const std::string& text : kBeyondBmp) all += text;
  RoundTrip(199, all);
}

TEST_P(UnicodeTest, LiteralsAliasesAndErrorTextsKeepCharactersBeyondBmp) {
  for (const std::string& text : kBeyondBmp) NamesAndLiterals(text);
}

TEST_P(UnicodeTest, TextsInsideBmpAndCombiningMarksStayUnchanged) {
  for (size_t i = 0; i < kInsideBmp.size(); ++i) {
    RoundTrip(static_cast<int>(200 + i), kInsideBmp[i]);
    NamesAndLiterals(kInsideBmp[i]);
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, UnicodeTest, ::testing::Values(Db::kSqlite, Db::kPostgres), DbName);

}  // namespace
}  // namespace vqtest
