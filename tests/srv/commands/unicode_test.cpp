// Texts with characters beyond U+FFFF, and inside it, through "query" and
// "querydbg" on SQLite, PostgreSQL and MariaDB: the bytes each database
// stores (read with its own client) and what the service answers.
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/srv/commands/test_data.h"
#include "tests/support/vqsrv_process.h"
#include "tests/support/vqsrv_requests.h"
#include "tests/support/db_client.h"
#include "tests/support/odbc_env.h"

namespace vqtest {
namespace {

enum class Db { kSqlite, kPostgres, kMaria };

std::string DbName(const ::testing::TestParamInfo<Db>& info) {
  switch (info.param) {
    case Db::kSqlite: return "sqlite";
    case Db::kPostgres: return "postgres";
    case Db::kMaria: return "mariadb";
  }
  return "?";
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
    server_table_ = "vq_uni_" + std::to_string(getpid());
    pg_ini_ = PgOdbcIni(pg_why_not_);
    if (!pg_ini_.empty()) {
      const std::string made = PsqlClient("DROP TABLE IF EXISTS " + server_table_ + "; CREATE TABLE " +
                                          server_table_ + " (id integer, t text);");
      if (!made.empty()) {
        pg_why_not_ = made;
        pg_ini_.clear();
      }
    }
    maria_ini_ = MariaOdbcIni(maria_why_not_);
    if (!maria_ini_.empty()) {
      const std::string made = MariaClient("DROP TABLE IF EXISTS " + server_table_ + "; CREATE TABLE " +
                                           server_table_ + " (id integer, t text) CHARACTER SET utf8mb4;");
      if (!made.empty()) {
        maria_why_not_ = made;
        maria_ini_.clear();
      }
    }
    // One odbc.ini holds every data source.
    server_ = std::make_unique<VqsrvProcess>(sqlite_->OdbcIni(), 0);
  }
  static void TearDownTestSuite() {
    server_.reset();
    if (!pg_ini_.empty()) PsqlClient("DROP TABLE IF EXISTS " + server_table_ + ";");
    if (!maria_ini_.empty()) MariaClient("DROP TABLE IF EXISTS " + server_table_ + ";");
    sqlite_.reset();
  }

  void SetUp() override {
    if (GetParam() == Db::kPostgres && pg_ini_.empty()) {
      if (RequirePg()) FAIL() << "PostgreSQL is required: " << pg_why_not_;
      GTEST_SKIP() << "PostgreSQL not available: " << pg_why_not_;
    }
    if (GetParam() == Db::kMaria && maria_ini_.empty()) {
      if (RequireMaria()) FAIL() << "MariaDB is required: " << maria_why_not_;
      GTEST_SKIP() << "MariaDB not available: " << maria_why_not_;
    }
  }

  static bool IsSqlite() { return GetParam() == Db::kSqlite; }
  static std::string Dsn() {
    switch (GetParam()) {
      case Db::kSqlite: return sqlite_->Dsn();
      case Db::kPostgres: return "pgtest";
      case Db::kMaria: return "mariatest";
    }
    return "";
  }
  static std::string Table() { return IsSqlite() ? "uni" : server_table_; }
  // A quoted identifier: MariaDB quotes with backquotes unless ANSI_QUOTES is set.
  static std::string Ident(const std::string& name) {
    return GetParam() == Db::kMaria ? "`" + name + "`" : "\"" + name + "\"";
  }

  static std::string Query(const std::string& sql, int p3) {
    const auto doc = server_->Call(QueryRequest(Dsn(), sql, p3));
    return doc.IsString() ? std::string(doc.GetString(), doc.GetStringLength()) : "<no string>";
  }
  static rapidjson::Document QueryDbg(const std::string& sql) { return server_->Call(QueryDbgRequest(Dsn(), sql)); }

  // The stored bytes of row id in hex, as the database's own client shows them.
  static std::string StoredHex(int id) {
    const std::string where = " FROM " + Table() + " WHERE id = " + std::to_string(id) + ";";
    switch (GetParam()) {
      case Db::kSqlite: return SqliteClient(sqlite_->Database(), "SELECT lower(hex(t))" + where);
      case Db::kPostgres: return PsqlClient("SELECT encode(convert_to(t, 'UTF8'), 'hex')" + where);
      case Db::kMaria: return MariaClient("SELECT lower(hex(t))" + where);
    }
    return "";
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
    const auto literal = QueryDbg("SELECT 'x" + text + "y' AS lit");
    ASSERT_TRUE(literal.IsObject() && literal.HasMember("Results") && literal["Results"].IsArray());
    ASSERT_EQ(literal["Results"].Size(), 1u);
    EXPECT_EQ(Text(literal["Results"][0]["lit"]), "x" + text + "y");

    const std::string missing = "no_" + text + "_table";
    if (GetParam() == Db::kMaria && !InsideBmp(text)) {
      // MariaDB takes no identifier beyond U+FFFF: the service must pass on
      // the server's own refusal, as the mariadb client prints it.
      for (const std::string& sql : {"SELECT 1 AS " + Ident("c" + text), "SELECT * FROM " + Ident(missing)}) {
        const std::string client = MariaClient(sql + ";");
        const size_t at = client.find("Invalid utf8mb4 character string");
        ASSERT_NE(at, std::string::npos) << client;
        const std::string message = client.substr(at, client.find_last_of('\'') + 1 - at);
        const auto failed = QueryDbg(sql);
        ASSERT_TRUE(failed.IsObject() && failed.HasMember("Errmsg"));
        EXPECT_NE(Text(failed["Errmsg"]).find(message), std::string::npos) << Text(failed["Errmsg"]);
      }
      return;
    }
    const auto alias = QueryDbg("SELECT 1 AS " + Ident("c" + text));
    ASSERT_TRUE(alias.IsObject() && alias.HasMember("Results") && alias["Results"].IsArray());
    ASSERT_EQ(alias["Results"].Size(), 1u);
    const auto& row = alias["Results"][0];
    ASSERT_EQ(row.MemberCount(), 1u);
    EXPECT_EQ(std::string(row.MemberBegin()->name.GetString(), row.MemberBegin()->name.GetStringLength()),
              "c" + text);

    const auto failed = QueryDbg("SELECT * FROM " + Ident(missing));
    ASSERT_TRUE(failed.IsObject() && failed.HasMember("Errmsg"));
    EXPECT_NE(Text(failed["Errmsg"]).find(missing), std::string::npos) << Text(failed["Errmsg"]);
    const std::string reply = Query("SELECT * FROM " + Ident(missing), -1);
    EXPECT_EQ(reply.rfind("Error code = 80004005 (", 0), 0u) << reply;
    EXPECT_NE(reply.find(missing), std::string::npos) << reply;
  }

  // No character of text is beyond U+FFFF (no 4-byte UTF-8 sequence).
  static bool InsideBmp(const std::string& text) {
    for (unsigned char c : text)
      if (c >= 0xF0) return false;
    return true;
  }

  static inline std::unique_ptr<SqliteSource> sqlite_;
  static inline std::unique_ptr<VqsrvProcess> server_;
  static inline std::string server_table_;
  static inline std::string pg_ini_;
  static inline std::string pg_why_not_;
  static inline std::string maria_ini_;
  static inline std::string maria_why_not_;
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

INSTANTIATE_TEST_SUITE_P(Databases, UnicodeTest, ::testing::Values(Db::kSqlite, Db::kPostgres, Db::kMaria), DbName);

}  // namespace
}  // namespace vqtest
