// The shared cases on the throwaway MariaDB server ("mariatest"), and how
// MariaDB's own column types arrive.
#include <unistd.h>

#include "tests/platform/ado/backend.h"
#include "tests/platform/ado/binary_rows.h"
#include "tests/support/odbc_env.h"

namespace adotest {
namespace {

std::string MariaConnection() {
  static const bool available = vqtest::AddMariaDsn();
  return available ? "DSN=mariatest" : "";
}

// MariaDB makes a boolean column TINYINT(1); TEXT holds 64 KB only.
INSTANTIATE_TEST_SUITE_P(Maria, BackendTest,
                         ::testing::Values(Backend{"mariadb", &MariaConnection, true, false, "longtext",
                                                   &vqtest::MariaUnavailableReason}),
                         PrintBackend);

class MariaTypes : public ::testing::Test {
 protected:
  void SetUp() override {
    conn_ = MariaConnection();
    if (conn_.empty()) {
      if (vqtest::RequireMaria()) FAIL() << vqtest::MariaUnavailableReason();
      GTEST_SKIP() << vqtest::MariaUnavailableReason();
    }
  }

  void Exec(const std::string& sql) {
    Ptr<_Recordset> rs;
    *rs.Out() = NewRecordset();
    ASSERT_EQ(OpenRecordset(rs.get(), sql, conn_), S_OK) << sql << ": " << TakeErrorInfo();
  }

  ComScope com_;
  std::string conn_;
};

TEST_F(MariaTypes, TheSampleDataSourceIsTheOneTested) { ExpectSampleIsTheTestsDsn("maria", "maria", "mariatest"); }

struct Column {
  LONG ado_type;
  VARTYPE vt;
  std::string text;  // the value's text (VT_BSTR conversion)
};

TEST_F(MariaTypes, ColumnsMapToTheirAdoTypesAndTexts) {
  const std::string table = "types_" + std::to_string(getpid());
  Exec("DROP TABLE IF EXISTS " + table);
  Exec("CREATE TABLE " + table +
       " (dec2 DECIMAL(10,2), small TINYINT(1), bit1 BIT(1), moment DATETIME, ubig BIGINT UNSIGNED,"
       " uint INT UNSIGNED, usmall SMALLINT UNSIGNED, utiny TINYINT UNSIGNED, big BIGINT, body TEXT)");
  Exec("INSERT INTO " + table +
       " VALUES (12.34, 1, b'1', '2024-02-29 13:45:30', 18446744073709551615, 4294967295, 65535, 255,"
       " -9223372036854775808, 'a\xF0\x9F\x98\x80z')");
  Exec("INSERT INTO " + table + " VALUES (-7.05, -128, b'0', '1000-01-01 00:00:00', 0, 0, 0, 0, 0, '')");

  // What the mariadb client prints for them, but for the forms chosen here:
  // BIT as True/False, a date-time without its zero time of day.
  const std::vector<std::vector<Column>> rows = {
      {{adNumeric, VT_DECIMAL, "12.34"},
       {adTinyInt, VT_I2, "1"},
       {adBoolean, VT_BOOL, "True"},
       {adDBTimeStamp, VT_DATE, "2024-02-29 13:45:30"},
       {adUnsignedBigInt, VT_UI8, "18446744073709551615"},
       {adUnsignedInt, VT_UI4, "4294967295"},
       {adUnsignedSmallInt, VT_UI2, "65535"},
       {adUnsignedTinyInt, VT_UI1, "255"},
       {adBigInt, VT_I8, "-9223372036854775808"},
       {adLongVarWChar, VT_BSTR, "a\xF0\x9F\x98\x80z"}},
      {{adNumeric, VT_DECIMAL, "-7.05"},
       {adTinyInt, VT_I2, "-128"},
       {adBoolean, VT_BOOL, "False"},
       {adDBTimeStamp, VT_DATE, "1000-01-01"},
       {adUnsignedBigInt, VT_UI8, "0"},
       {adUnsignedInt, VT_UI4, "0"},
       {adUnsignedSmallInt, VT_UI2, "0"},
       {adUnsignedTinyInt, VT_UI1, "0"},
       {adBigInt, VT_I8, "0"},
       {adLongVarWChar, VT_BSTR, ""}},
  };
  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  ASSERT_EQ(OpenRecordset(rs.get(), "SELECT * FROM " + table + " ORDER BY ubig DESC", conn_), S_OK)
      << TakeErrorInfo();
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      Ptr<Field> f;
      *f.Out() = GetField(rs.get(), static_cast<LONG>(i));
      LONG type = 0;
      EXPECT_EQ(f->get_Type(&type), S_OK);
      EXPECT_EQ(type, row[i].ado_type) << "column " << i;
      Var value;
      ASSERT_EQ(f->get_Value(&value.v), S_OK);
      EXPECT_EQ(value.v.vt, row[i].vt) << "column " << i;
      Var text;
      ASSERT_EQ(VariantChangeType(&text.v, &value.v, 0, VT_BSTR), S_OK) << "column " << i;
      EXPECT_EQ(U8(text.v.bstrVal), row[i].text) << "column " << i;
    }
    // A character beyond U+FFFF takes two UTF-16 units.
    Ptr<Field> body;
    *body.Out() = GetField(rs.get(), 9);
    LONG size = 0;
    EXPECT_EQ(body->get_ActualSize(&size), S_OK);
    EXPECT_EQ(size, static_cast<LONG>(U16(row[9].text).size() * 2));
    ASSERT_EQ(rs->MoveNext(), S_OK);
  }
  Exec("DROP TABLE " + table);
}

// Values longer than their bound buffer, between short ones: the driver
// cannot read the rest of a bound value, so such results are read row by
// row and every value comes from its own row, whole.
TEST_F(MariaTypes, LongValuesComeWholeFromTheirOwnRows) {
  const std::string table = "mv_" + std::to_string(getpid());
  Exec("DROP TABLE IF EXISTS " + table);
  Exec("CREATE TABLE " + table + " (id int, v varchar(2000), t longtext)");
  Exec("INSERT INTO " + table +
       " VALUES (1, 'short one', 'a'), (2, repeat('x', 256), repeat('\xF0\x9F\x98\x80', 300)),"
       " (3, 'short three', repeat('\xC3\xA9', 1000000)), (4, concat(repeat('y', 255), 'Z'), '')");
  std::string emoji;
  for (int i = 0; i < 300; ++i) emoji += "\xF0\x9F\x98\x80";
  std::string accents;
  for (int i = 0; i < 1000000; ++i) accents += "\xC3\xA9";
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"short one", "a"}, {std::string(256, 'x'), emoji}, {"short three", accents}, {std::string(255, 'y') + "Z", ""}};
  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  ASSERT_EQ(OpenRecordset(rs.get(), "SELECT v, t FROM " + table + " ORDER BY id", conn_), S_OK) << TakeErrorInfo();
  for (const auto& [v, t] : expected) {
    EXPECT_EQ(FieldText(rs.get(), 0), v);
    const std::string text = FieldText(rs.get(), 1);
    EXPECT_EQ(text.size(), t.size());
    EXPECT_TRUE(text == t) << text.substr(0, 40);
    ASSERT_EQ(rs->MoveNext(), S_OK);
  }
  Exec("DROP TABLE " + table);
}

// BLOB values arrive whole, byte for byte as the server's own hex() shows
// them, with ActualSize the byte count: 1,000,000 bytes, empty, null, three.
TEST_F(MariaTypes, BlobsArriveWholeWithTheirByteCount) {
  const std::string table = "bin_" + std::to_string(getpid());
  Exec("DROP TABLE IF EXISTS " + table);
  Exec("CREATE TABLE " + table + " (id INT, b LONGBLOB)");
  Exec("INSERT INTO " + table + " VALUES (1, unhex(repeat('00FF41A5', 250000))), (2, ''), (3, NULL), (4, x'00FF41')");
  EXPECT_EQ(CheckBinaryRows("SELECT id, b, hex(b) FROM " + table + " ORDER BY id", conn_), 4);
  Exec("DROP TABLE " + table);
}

}  // namespace
}  // namespace adotest
