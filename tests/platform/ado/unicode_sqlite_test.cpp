// The SQLite driver takes its texts as UTF-8 through the narrow entry
// points: the table entry, connection strings with characters beyond
// U+FFFF, and texts that are no well-formed UTF-16, which are refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/ado/connection.h"
#include "platform/ado/driver_traits.h"
#include "tests/platform/ado/ado_test_util.h"
#include "tests/support/db_client.h"
#include "tests/support/odbc_env.h"

namespace adotest {
namespace {

std::string Dsn() {
  static const std::string dsn = vqtest::AddSqliteDsn("vq_unicode", "CREATE TABLE u (id INTEGER, t TEXT);");
  return dsn;
}

std::string Database() { return vqtest::TempDir() + "/" + Dsn() + ".db"; }

// Opens a Connection on text; the test fails when it does not open.
void OpenConnection(Ptr<_Connection>* c, const std::u16string& text) {
  *c->Out() = NewConnection();
  BSTR bstr = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  EXPECT_EQ((*c)->Open(bstr, nullptr, nullptr, 0), S_OK) << TakeErrorInfo();
  SysFreeString(bstr);
}

// Opens a recordset on a statement given as UTF-16; Open's result.
HRESULT RunText(const std::u16string& sql, const std::u16string& connection) {
  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  Var source(sql);
  Var active(connection);
  return rs->Open(source.v, active.v, adOpenStatic, adLockBatchOptimistic, adCmdUnspecified);
}

TEST(SqliteUnicode, TheTableSendsSqliteTextsAsUtf8) {
  EXPECT_TRUE(zado::DriverTraitsForName("sqlite3odbc.so").narrow_utf8);
  const zado::DriverTraits other = zado::DriverTraitsForName("psqlodbcw.so");
  EXPECT_FALSE(other.narrow_utf8);
  EXPECT_TRUE(other.wide_beyond_bmp);
  EXPECT_FALSE(zado::DriverTraitsForName("").narrow_utf8);

  // The key is the name the installed driver reports.
  ComScope com;
  Ptr<_Connection> c;
  OpenConnection(&c, U16("DSN=" + Dsn()));
  zado::AdoConnection* connection = zado::AdoConnection::FromInterface(c.get());
  ASSERT_NE(connection, nullptr);
  EXPECT_TRUE(zado::DriverTraitsOf(connection->Handle()).narrow_utf8);
}

TEST(SqliteUnicode, ConnectionStringsKeepCharactersBeyondBmp) {
  Dsn();
  ComScope com;
  // Both a first connect of each text and a later one (the way learnt, or
  // a pooled connection) reach the file of exactly that name.
  for (const std::string name : {"db\U0001F600\U00020000.db", "caf\u00E9.db"}) {
    SCOPED_TRACE(name);
    const std::string path = vqtest::TempDir() + "/" + name;
    const std::u16string text = U16("DSN=" + Dsn() + ";Database=" + path);
    EXPECT_EQ(RunText(u"CREATE TABLE w (t TEXT)", text), S_OK) << TakeErrorInfo();
    EXPECT_EQ(RunText(u"INSERT INTO w VALUES ('\U0001F389')", text), S_OK) << TakeErrorInfo();
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(vqtest::SqliteClient(path, "SELECT lower(hex(t)) FROM w;"), "f09f8e89");
  }
}

TEST(SqliteUnicode, TextsThatAreNotWellFormedAreRefused) {
  Dsn();
  ComScope com;
  const std::u16string conn = U16("DSN=" + Dsn());
  // An unpaired surrogate has no UTF-8 form: the statement is not run.
  const std::u16string lone = std::u16string(u"INSERT INTO u VALUES (1, 'a") + char16_t{0xD83D} + u"b')";
  EXPECT_EQ(RunText(lone, conn), E_FAIL);
  const std::string info = TakeErrorInfo();
  EXPECT_NE(info.find("not well-formed UTF-16"), std::string::npos) << info;
  EXPECT_EQ(vqtest::SqliteClient(Database(), "SELECT count(*) FROM u;"), "0");

  // Nor is a connection made from such a text (which would name a file).
  const std::string path = vqtest::TempDir() + "/lone.db";
  const std::u16string text = U16("DSN=" + Dsn() + ";Database=" + path) + char16_t{0xDC00};
  Ptr<_Connection> c;
  *c.Out() = NewConnection();
  BSTR bstr = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  EXPECT_EQ(c->Open(bstr, nullptr, nullptr, 0), E_FAIL);
  SysFreeString(bstr);
  const std::string refused = TakeErrorInfo();
  EXPECT_NE(refused.find("The connection string is not well-formed UTF-16"), std::string::npos) << refused;
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace adotest
