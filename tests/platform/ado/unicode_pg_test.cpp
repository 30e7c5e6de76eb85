// Characters beyond U+FFFF on PostgreSQL: the Unicode driver takes them
// through its UTF-16 entry points, in statements and in connection
// strings; the ANSI driver, which has none, cannot, so texts holding them
// are refused there and nothing is written.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/ado/connection.h"
#include "platform/ado/driver_traits.h"
#include "tests/platform/ado/ado_test_util.h"
#include "tests/support/db_client.h"
#include "tests/support/odbc_env.h"

namespace adotest {
namespace {

// The DSN "pgansi": the throwaway server through the ANSI driver.
bool PgAvailable() {
  static const bool available = [] {
    if (!vqtest::AddPgDsn()) return false;
    std::ifstream in(std::string(VQ_TEST_BINARY_DIR) + "/pgtest/pgtest.ini");
    std::string line;
    std::string body;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '[') continue;
      body += line.rfind("Driver=", 0) == 0 ? "Driver=PostgreSQL ANSI" : line;
      body += '\n';
    }
    vqtest::AddDsn("pgansi", body);
    return true;
  }();
  return available;
}

class PgUnicode : public ::testing::Test {
 protected:
  void SetUp() override {
    if (PgAvailable()) return;
    if (vqtest::RequirePg()) FAIL() << vqtest::PgUnavailableReason();
    GTEST_SKIP() << vqtest::PgUnavailableReason();
  }

  // Opens text on a new Connection; Open's result.
  static HRESULT Connect(Ptr<_Connection>* c, const std::string& text) {
    *c->Out() = NewConnection();
    BSTR bstr = SysAllocString(U16(text).c_str());
    const HRESULT hr = (*c)->Open(bstr, nullptr, nullptr, 0);
    SysFreeString(bstr);
    return hr;
  }
  static const zado::DriverTraits& TraitsOf(const std::string& text) {
    static const zado::DriverTraits none;
    Ptr<_Connection> c;
    if (Connect(&c, text) != S_OK) {
      ADD_FAILURE() << text << ": " << TakeErrorInfo();
      return none;
    }
    return zado::DriverTraitsOf(zado::AdoConnection::FromInterface(c.get())->Handle());
  }

  ComScope com_;
};

TEST_F(PgUnicode, OnlyTheUnicodeDriverCarriesCharactersBeyondBmp) {
  const zado::DriverTraits& unicode = TraitsOf("DSN=pgtest");
  EXPECT_FALSE(unicode.narrow_utf8);
  EXPECT_TRUE(unicode.wide_beyond_bmp);
  const zado::DriverTraits& ansi = TraitsOf("DSN=pgansi");
  EXPECT_FALSE(ansi.narrow_utf8);
  EXPECT_FALSE(ansi.wide_beyond_bmp);
}

TEST_F(PgUnicode, TheAnsiDriverRefusesWhatItWouldBreakAndKeepsTheRest) {
  const std::string table = "vq_ansi_" + std::to_string(getpid());
  ASSERT_EQ(vqtest::PsqlClient("DROP TABLE IF EXISTS " + table + "; CREATE TABLE " + table + " (t text);"), "");
  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  // The UCS-2 conversion would have sent "in" and two stray bytes.
  EXPECT_EQ(OpenRecordset(rs.get(), "INSERT INTO " + table + " VALUES ('in\U0001F389')", "DSN=pgansi"), E_FAIL);
  const std::string info = TakeErrorInfo();
  EXPECT_NE(info.find("beyond U+FFFF"), std::string::npos) << info;
  EXPECT_EQ(vqtest::PsqlClient("SELECT count(*) FROM " + table + ";"), "0");
  // Inside U+FFFF the driver manager's conversion is exact.
  EXPECT_EQ(OpenRecordset(rs.get(), "INSERT INTO " + table + " VALUES ('\u00E9\u4E2D')", "DSN=pgansi"), S_OK)
      << TakeErrorInfo();
  EXPECT_EQ(vqtest::PsqlClient("SELECT encode(convert_to(t, 'UTF8'), 'hex') FROM " + table + ";"),
            vqtest::HexOf("\u00E9\u4E2D"));
  vqtest::PsqlClient("DROP TABLE " + table + ";");
}

TEST_F(PgUnicode, ConnectionStringsKeepCharactersBeyondBmp) {
  const std::string database = "vq\U0001F600\U00020000_" + std::to_string(getpid());
  ASSERT_EQ(vqtest::PsqlClient("DROP DATABASE IF EXISTS \"" + database + "\"; CREATE DATABASE \"" + database + "\";"),
            "");
  const std::string text = "DSN=pgtest;Database=" + database;
  // Twice: a pooled or a fresh connection alike.
  for (int round = 0; round < 2; ++round) {
    Ptr<_Recordset> rs;
    *rs.Out() = NewRecordset();
    ASSERT_EQ(OpenRecordset(rs.get(), "SELECT current_database() AS \"d\U0001F389\"", text), S_OK) << TakeErrorInfo();
    EXPECT_EQ(FieldText(rs.get(), 0), database);
    Ptr<Field> f;
    *f.Out() = GetField(rs.get(), 0);
    BSTR name = nullptr;
    EXPECT_EQ(f->get_Name(&name), S_OK);
    EXPECT_EQ(U8(name), "d\U0001F389");
    SysFreeString(name);
    // The connection made narrow first was made again through the UTF-16
    // entry points, so texts arrive as the Unicode driver gives them.
    LONG type = 0;
    EXPECT_EQ(f->get_Type(&type), S_OK);
    EXPECT_EQ(type, adVarWChar);
    rs->Close();
  }

  // The error of a missing database names it whole.
  Ptr<_Connection> c;
  EXPECT_EQ(Connect(&c, "DSN=pgtest;Database=" + database + "_missing"), E_FAIL);
  const std::string missing = TakeErrorInfo();
  EXPECT_NE(missing.find(database + "_missing"), std::string::npos) << missing;

  // The ANSI driver would get the name broken.
  EXPECT_EQ(Connect(&c, "DSN=pgansi;Database=" + database), E_FAIL);
  const std::string refused = TakeErrorInfo();
  EXPECT_NE(refused.find("The connection string holds characters beyond U+FFFF"), std::string::npos) << refused;
  LONG state = -1;
  EXPECT_EQ(c->get_State(&state), S_OK);
  EXPECT_EQ(state, adStateClosed);

  vqtest::PsqlClient("DROP DATABASE \"" + database + "\" WITH (FORCE);");
}

}  // namespace
}  // namespace adotest
