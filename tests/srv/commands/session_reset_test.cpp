// A request gets a database session as fresh as a new connection: what one
// request leaves in its session (temporary tables, settings, role, an open
// transaction, locks, listeners, prepared statements, cursors, attached
// databases, variables) is gone for the next, on SQLite, PostgreSQL and
// MariaDB. The service runs one request thread, so the next request gets
// the connection the last one gave back whenever the pool keeps it.
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

const std::vector<std::string> kOneThread = {"ZRM_THREADS=1"};

// One vqsrv with one request thread on one data source.
class Service {
 public:
  Service(const std::string& ini, std::string dsn, std::vector<std::string> env = {})
      : dsn_(std::move(dsn)) {
    env.insert(env.end(), kOneThread.begin(), kOneThread.end());
    process_ = std::make_unique<VqsrvProcess>(ini, 0, env);
  }

  // The reply of "query" for the first record: its values joined by "|",
  // "" for a statement without records, or the error text.
  std::string Query(const std::string& sql) const {
    const auto doc = process_->Call(QueryRequest(dsn_, sql, 1));
    return doc.IsString() ? std::string(doc.GetString(), doc.GetStringLength()) : "<no string>";
  }
  // The "Status" of "querydbg" and the number of its records.
  std::string QueryDbgSummary(const std::string& sql) const {
    const auto doc = process_->Call(QueryDbgRequest(dsn_, sql));
    if (!doc.IsObject() || !doc.HasMember("Status") || !doc["Status"].IsBool()) return "<no status>";
    if (!doc["Status"].GetBool()) return "failed";
    return std::to_string(doc.HasMember("Results") ? doc["Results"].Size() : 0) + " records";
  }
  bool Open() const {
    const auto doc = process_->Call(OpenRequest(dsn_));
    return doc.IsObject() && doc.HasMember("Status") && doc["Status"].IsBool() && doc["Status"].GetBool();
  }

 private:
  std::unique_ptr<VqsrvProcess> process_;
  std::string dsn_;
};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// ---------------------------------------------------------------- PostgreSQL

class PgSessionReset : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ini_ = PgOdbcIni(why_not_);
    if (ini_.empty()) return;
    role_ = "vq_reset_role_" + std::to_string(getpid());
    table_ = "vq_reset_" + std::to_string(getpid());
    PgBackend::Client("DROP ROLE IF EXISTS " + role_ + "; CREATE ROLE " + role_ + "; DROP TABLE IF EXISTS " +
                      table_ + "; CREATE TABLE " + table_ + " (x integer)");
  }
  static void TearDownTestSuite() {
    if (!ini_.empty()) PgBackend::Client("DROP TABLE IF EXISTS " + table_ + "; DROP ROLE IF EXISTS " + role_);
  }
  void SetUp() override {
    if (!ini_.empty()) return;
    if (RequirePg()) FAIL() << "PostgreSQL is required: " << why_not_;
    GTEST_SKIP() << "PostgreSQL not available: " << why_not_;
  }

  static inline std::string ini_, why_not_, role_, table_;
};

TEST_F(PgSessionReset, TemporaryTableSearchPathRoleAndSettingDoNotCarryOver) {
  Service pg(ini_, "pgtest");
  const std::string backend = pg.Query("SELECT pg_backend_pid()");
  const std::string search_path = pg.Query("SHOW search_path");
  const std::string user = pg.Query("SELECT current_user");

  EXPECT_EQ(pg.Query("CREATE TEMP TABLE vq_leak AS SELECT 42 AS x"), "");
  EXPECT_TRUE(Contains(pg.Query("SELECT x FROM vq_leak"), "relation \"vq_leak\" does not exist"));

  EXPECT_EQ(pg.Query("SET search_path TO pg_catalog"), "");
  EXPECT_EQ(pg.Query("SHOW search_path"), search_path);

  EXPECT_EQ(pg.Query("SET ROLE " + role_), "");
  EXPECT_EQ(pg.Query("SELECT current_user"), user);

  EXPECT_EQ(pg.Query("SELECT set_config('app.tenant', 'A', false)"), "A");
  // A setting made in a session cannot be unmade, only emptied: '' (a new
  // connection has none at all, null).
  EXPECT_EQ(pg.Query("SELECT coalesce(current_setting('app.tenant', true), '')"), "");

  EXPECT_EQ(pg.Query("SELECT pg_backend_pid()"), backend) << "the pooled connection was reset, not replaced";
}

TEST_F(PgSessionReset, AnOpenTransactionDoesNotCarryOver) {
  Service pg(ini_, "pgtest");
  const std::string backend = pg.Query("SELECT pg_backend_pid()");

  // Left open, the transaction would swallow the next client's writes.
  EXPECT_EQ(pg.Query("BEGIN"), "");
  EXPECT_EQ(pg.Query("INSERT INTO " + table_ + " VALUES (1)"), "");
  EXPECT_EQ(PgBackend::Client("SELECT count(*) FROM " + table_ + " WHERE x = 1"), ClientLines{"1"});
  // The same when the driver does not see the transaction begin.
  EXPECT_EQ(pg.Query("SELECT 1; BEGIN"), "1");
  EXPECT_EQ(pg.Query("SELECT now() = statement_timestamp()"), "True") << "a transaction of its own";
  EXPECT_EQ(pg.Query("SELECT pg_backend_pid()"), backend) << "the pooled connection was reset, not replaced";
}

TEST_F(PgSessionReset, AdvisoryLockAndListenerDoNotCarryOver) {
  Service pg(ini_, "pgtest");
  const std::string backend = pg.Query("SELECT pg_backend_pid()");

  EXPECT_EQ(pg.Query("SELECT pg_advisory_lock(4242)"), "");
  EXPECT_EQ(pg.Query("SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND pid = pg_backend_pid()"), "0");
  EXPECT_EQ(PgBackend::Client("SELECT pg_try_advisory_lock(4242)"), ClientLines{"t"});

  EXPECT_EQ(pg.Query("LISTEN vq_reset_channel"), "");
  EXPECT_EQ(pg.Query("SELECT count(*) FROM pg_listening_channels()"), "0");

  EXPECT_EQ(pg.Query("SELECT pg_backend_pid()"), backend) << "the pooled connection was reset, not replaced";
}

TEST_F(PgSessionReset, PreparedStatementsAndCursorsAreGoneAndTheNextRequestsWork) {
  Service pg(ini_, "pgtest");
  const std::string backend = pg.Query("SELECT pg_backend_pid()");

  EXPECT_EQ(pg.Query("PREPARE vq_reset_ps AS SELECT 7"), "");
  EXPECT_TRUE(Contains(pg.Query("EXECUTE vq_reset_ps"), "prepared statement \"vq_reset_ps\" does not exist"));
  EXPECT_EQ(pg.Query("DECLARE vq_reset_cursor CURSOR WITH HOLD FOR SELECT 1"), "");
  EXPECT_TRUE(Contains(pg.Query("FETCH vq_reset_cursor"), "cursor \"vq_reset_cursor\" does not exist"));

  // Every kind of request goes on working on the reset connection: results
  // read through the driver's cursor in several blocks, statements without
  // records, failures, "open".
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(pg.QueryDbgSummary("SELECT i FROM generate_series(1, 2500) i"), "2500 records");
    EXPECT_EQ(pg.Query("SELECT 'a' || 1, 2.5::float8"), "a1|2.5");
    EXPECT_EQ(pg.Query("SET statement_timeout = 0"), "");
    EXPECT_TRUE(Contains(pg.Query("SELECT 1/0"), "division by zero"));
    EXPECT_TRUE(pg.Open());
  }
  EXPECT_EQ(pg.Query("SELECT pg_backend_pid()"), backend);
}

TEST_F(PgSessionReset, SettingsAndRoleOfTheDataSourceComeBack) {
  // What the data source sets at connect is the state a new connection
  // has: the reset brings it back rather than the server's defaults.
  std::string body;
  for (const auto& [key, value] : TestSection("pgtest")) body += key + "=" + value + "\n";
  body += "ConnSettings=SET search_path TO pg_catalog, public; SET ROLE " + role_ + "\n";
  AddDsn("vq_reset_pg", body);
  Service pg(OdbcIniPath(), "vq_reset_pg");
  const std::string backend = pg.Query("SELECT pg_backend_pid()");
  const std::string at_connect = role_ + "|pg_catalog, public|2";
  const std::string probe = "SELECT current_user, current_setting('search_path'), current_setting('extra_float_digits')";
  EXPECT_EQ(pg.Query(probe), at_connect);

  EXPECT_EQ(pg.Query("RESET ROLE"), "");
  EXPECT_EQ(pg.Query("SET search_path TO public"), "");
  EXPECT_EQ(pg.Query("SET extra_float_digits = 0"), "");
  EXPECT_EQ(pg.Query(probe), at_connect);
  EXPECT_EQ(pg.Query("RESET ALL"), "");
  EXPECT_EQ(pg.Query(probe), at_connect);
  EXPECT_EQ(pg.Query("SELECT pg_backend_pid()"), backend);
}

TEST_F(PgSessionReset, CommandTimeLimitHoldsOnEveryRequest) {
  // The limit lives in the session here: a client changing it, and the
  // reset after, must leave every later request under it all the same.
  Service pg(ini_, "pgtest", {"VQ_ADO_COMMAND_TIMEOUT=1"});
  const std::string backend = pg.Query("SELECT pg_backend_pid()");
  const std::string cancelled = "statement timeout";
  EXPECT_TRUE(Contains(pg.Query("SELECT pg_sleep(3)"), cancelled));
  EXPECT_EQ(pg.Query("SET statement_timeout = 0"), "");
  EXPECT_TRUE(Contains(pg.Query("SELECT pg_sleep(3)"), cancelled));
  EXPECT_EQ(pg.Query("RESET ALL"), "");
  EXPECT_TRUE(Contains(pg.Query("SELECT pg_sleep(3)"), cancelled));
  EXPECT_EQ(pg.Query("SELECT 1"), "1");
  EXPECT_EQ(pg.Query("SELECT pg_backend_pid()"), backend);
}

// -------------------------------------------------------------------- SQLite

TEST(SqliteSessionReset, TemporaryTablePragmaAndAttachedDatabaseDoNotCarryOver) {
  SqliteSource source;
  const std::string other = source.MakeDatabase("CREATE TABLE other (x integer);");
  Service lite(source.OdbcIni(), source.Dsn());

  EXPECT_EQ(lite.Query("CREATE TEMP TABLE leak AS SELECT 42 AS x"), "");
  EXPECT_TRUE(Contains(lite.Query("SELECT x FROM leak"), "no such table: leak"));

  EXPECT_EQ(lite.Query("PRAGMA foreign_keys = ON"), "");
  EXPECT_EQ(lite.Query("PRAGMA foreign_keys"), "0");

  EXPECT_EQ(lite.Query("ATTACH DATABASE '" + other + "' AS att"), "");
  EXPECT_EQ(lite.Query("SELECT count(*) FROM pragma_database_list WHERE name = 'att'"), "0");
  EXPECT_TRUE(Contains(lite.Query("SELECT x FROM att.other"), "no such table: att.other"));
}

TEST(SqliteSessionReset, AnOpenTransactionIsRolledBackAndTheNextRequestsWork) {
  SqliteSource source;
  Service lite(source.OdbcIni(), source.Dsn());
  const std::string count = "SELECT count(*) FROM scratch";

  // Left open, the transaction would hold the next client's writes back and
  // lock the database for every other connection.
  EXPECT_EQ(lite.Query("BEGIN IMMEDIATE"), "");
  EXPECT_EQ(lite.Query("INSERT INTO scratch VALUES (1, 'a')"), "");
  EXPECT_EQ(lite.Query("SAVEPOINT sp"), "");
  EXPECT_EQ(lite.Query("INSERT INTO scratch VALUES (2, 'b')"), "");
  EXPECT_EQ(SqliteBackend::ClientOn(source.Database(), count), ClientLines{"2"});

  // A statement naming what it does not change, and a temporary table
  // dropped again, leave the connection as it was; the next requests work.
  EXPECT_EQ(lite.Query("SELECT 'temp' AS \"begin\""), "temp");
  EXPECT_EQ(lite.Query("CREATE TEMP TABLE gone (x); DROP TABLE gone"), "");
  EXPECT_EQ(lite.Query(count), "2");
  EXPECT_EQ(lite.QueryDbgSummary("SELECT * FROM scratch"), "2 records");
  EXPECT_TRUE(lite.Open());
}

// ------------------------------------------------------------------- MariaDB

class MariaSessionReset : public ::testing::Test {
 protected:
  void SetUp() override {
    ini_ = MariaOdbcIni(why_not_);
    if (!ini_.empty()) return;
    if (RequireMaria()) FAIL() << "MariaDB is required: " << why_not_;
    GTEST_SKIP() << "MariaDB not available: " << why_not_;
  }
  std::string ini_, why_not_;
};

TEST_F(MariaSessionReset, TemporaryTableUserAndSessionVariablesDoNotCarryOver) {
  Service maria(ini_, "mariatest");
  const std::string sql_mode = maria.Query("SELECT @@SESSION.sql_mode");
  const std::string wait_timeout = maria.Query("SELECT @@SESSION.wait_timeout");

  EXPECT_EQ(maria.Query("CREATE TEMPORARY TABLE vq_leak AS SELECT 42 AS x"), "");
  EXPECT_TRUE(Contains(maria.Query("SELECT x FROM vq_leak"), "vq_leak' doesn't exist"));

  EXPECT_EQ(maria.Query("SET @v = 1"), "");
  EXPECT_EQ(maria.Query("SELECT @v IS NULL"), "1");

  EXPECT_EQ(maria.Query("SET SESSION sql_mode = 'ANSI_QUOTES'"), "");
  EXPECT_EQ(maria.Query("SET SESSION wait_timeout = 77"), "");
  EXPECT_EQ(maria.Query("SELECT @@SESSION.sql_mode"), sql_mode);
  EXPECT_EQ(maria.Query("SELECT @@SESSION.wait_timeout"), wait_timeout);
}

}  // namespace
}  // namespace vqtest
