// The read-only SQLite DSN the README advises, through a running vqsrv:
// "Database=file:<path>?mode=ro" keeps the database from being changed, and
// "NoCreat=1" keeps the driver from making files, through the connect and
// through ATTACH alike.
#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "tests/srv/commands/test_data.h"
#include "tests/support/vqsrv_process.h"
#include "tests/support/vqsrv_requests.h"
#include "tests/support/odbc_env.h"

namespace vqtest {
namespace {

namespace fs = std::filesystem;

class SqliteReadOnlyTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    source_ = std::make_unique<SqliteSource>();
    dir_ = TempDir() + "/readonly-" + source_->Dsn();
    fs::create_directories(dir_);
    AddDsn("vq_ro", "Driver=SQLite3\nDatabase=file:" + source_->Database() + "?mode=ro\nNoCreat=1\nTimeout=2000\n");
    AddDsn("vq_ro_missing", "Driver=SQLite3\nDatabase=file:" + dir_ + "/missing.db?mode=ro\nNoCreat=1\nTimeout=2000\n");
    // Read-only without NoCreat=1: the database stays, but ATTACH makes files.
    AddDsn("vq_ro_creates", "Driver=SQLite3\nDatabase=file:" + source_->Database() + "?mode=ro\nTimeout=2000\n");
    server_ = std::make_unique<VqsrvProcess>(source_->OdbcIni(), 0);
  }
  static void TearDownTestSuite() {
    server_.reset();
    source_.reset();
  }

  static std::string Query(const std::string& dsn, const std::string& sql) {
    const auto doc = server_->Call(QueryRequest(dsn, sql, -1));
    return doc.IsString() ? std::string(doc.GetString(), doc.GetStringLength()) : "<no string>";
  }
  static bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }

  static inline std::unique_ptr<SqliteSource> source_;
  static inline std::unique_ptr<VqsrvProcess> server_;
  static inline std::string dir_;
};

TEST_F(SqliteReadOnlyTest, ReadsButNeverWrites) {
  EXPECT_EQ(Query("vq_ro", "SELECT x, y FROM pairs ORDER BY x"), "a|b|c|d");
  for (const char* sql : {"INSERT INTO scratch VALUES (1, 'x')", "UPDATE pairs SET x = 'z'", "CREATE TABLE z (x)",
                          "DROP TABLE pairs", "PRAGMA journal_mode = WAL"}) {
    const std::string reply = Query("vq_ro", sql);
    EXPECT_TRUE(Contains(reply, "attempt to write a readonly database")) << sql << ": " << reply;
  }
  EXPECT_EQ(Query(source_->Dsn(), "SELECT count(*) FROM scratch"), "0");
  EXPECT_EQ(Query(source_->Dsn(), "SELECT x, y FROM pairs ORDER BY x"), "a|b|c|d");
}

TEST_F(SqliteReadOnlyTest, MakesNoFile) {
  EXPECT_EQ(server_->Post(OpenRequest("vq_ro_missing")).body, R"({"Status":false})");
  EXPECT_FALSE(fs::exists(dir_ + "/missing.db"));

  const std::string attach = "ATTACH '" + dir_ + "/attached.db' AS a";
  const std::string reply = Query("vq_ro", attach);
  EXPECT_TRUE(Contains(reply, "unable to open database")) << reply;
  EXPECT_FALSE(fs::exists(dir_ + "/attached.db"));

  // mode=ro alone covers the database only.
  EXPECT_EQ(Query("vq_ro_creates", attach), "");
  EXPECT_TRUE(fs::exists(dir_ + "/attached.db"));
}

}  // namespace
}  // namespace vqtest
