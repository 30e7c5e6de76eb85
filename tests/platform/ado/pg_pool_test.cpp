// The connection pool against PostgreSQL: a pooled connection whose server
// side went away is replaced and the statement run once more, and many
// threads share the pool between SQLite and PostgreSQL.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/ado/connection_pool.h"
#include "platform/ado/odbc_environment.h"
#include "tests/platform/ado/ado_test_util.h"
#include "tests/support/odbc_env.h"

namespace adotest {
namespace {

bool PgAvailable() {
  static const bool available = vqtest::AddPgDsn();
  return available;
}

// One value of a one-row statement as text, or "error: ..." on failure.
std::string ScalarText(const std::string& sql, const std::string& connection) {
  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  if (OpenRecordset(rs.get(), sql, connection) != S_OK) return "error: " + TakeErrorInfo();
  Ptr<Field> f;
  *f.Out() = GetField(rs.get(), 0);
  if (!f.get()) return "error: no field";
  Var v;
  if (f->get_Value(&v.v) != S_OK) return "error: value";
  Var text;
  if (VariantChangeType(&text.v, &v.v, 0, VT_BSTR) != S_OK) return "error: change type";
  std::string out = U8(text.v.bstrVal);
  rs->Close();
  return out;
}

void RunOnOwnConnection(const std::u16string& sql) {
  SQLHDBC dbc = SQL_NULL_HDBC;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, zado::OdbcEnvironment(), &dbc)));
  std::u16string in = u"DSN=pgtest";
  ASSERT_TRUE(SQL_SUCCEEDED(SQLDriverConnectW(dbc, nullptr, reinterpret_cast<SQLWCHAR*>(in.data()),
                                              static_cast<SQLSMALLINT>(in.size()), nullptr, 0, nullptr,
                                              SQL_DRIVER_NOPROMPT)));
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt)));
  std::u16string text = sql;
  EXPECT_TRUE(SQL_SUCCEEDED(SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(text.data()), SQL_NTS)));
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  zado::ConnectionPool::Discard(dbc);
}

TEST(PgPool, DeadPooledConnectionIsReplacedAndTheStatementRunsOnce) {
  if (!PgAvailable()) {
    if (vqtest::RequirePg()) FAIL() << vqtest::PgUnavailableReason();
    GTEST_SKIP() << vqtest::PgUnavailableReason();
  }
  ComScope com;
  zado::ConnectionPool& pool = zado::ConnectionPool::Process();
  pool.Clear();
  const std::string first = ScalarText("SELECT pg_backend_pid()", "DSN=pgtest");
  ASSERT_EQ(first.find("error"), std::string::npos) << first;
  EXPECT_EQ(ScalarText("SELECT pg_backend_pid()", "DSN=pgtest"), first) << "the idle connection is reused";
  ASSERT_EQ(pool.IdleCount(u"DSN=pgtest"), 1u);

  // The server ends the idle connection's session, as a restart would.
  RunOnOwnConnection(U16("SELECT pg_terminate_backend(" + first + ")"));
  const std::string second = ScalarText("SELECT pg_backend_pid()", "DSN=pgtest");
  EXPECT_EQ(second.find("error"), std::string::npos) << second;
  EXPECT_NE(second, first);
  EXPECT_EQ(pool.IdleCount(u"DSN=pgtest"), 1u) << "the fresh connection went back to the pool";
  pool.Clear();
}

TEST(PgPool, ManyThreadsShareThePoolAcrossDrivers) {
  if (!PgAvailable()) {
    if (vqtest::RequirePg()) FAIL() << vqtest::PgUnavailableReason();
    GTEST_SKIP() << vqtest::PgUnavailableReason();
  }
  const std::string sqlite =
      "DSN=" + vqtest::AddSqliteDsn("vq_pool_mt", "CREATE TABLE n(v integer); INSERT INTO n VALUES (5);");
  constexpr int kThreads = 8;
  constexpr int kRounds = 200;
  std::atomic<int> wrong{0};
  std::atomic<int> done{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ComScope com;
      for (int i = 0; i < kRounds; ++i) {
        const int k = t * kRounds + i;
        std::string got;
        std::string want;
        if (i % 2 == 0) {
          got = ScalarText("SELECT v + " + std::to_string(k) + " FROM n", sqlite);
          want = std::to_string(5 + k);
        } else {
          got = ScalarText("SELECT " + std::to_string(k) + " * 2", "DSN=pgtest");
          want = std::to_string(2 * k);
        }
        if (got != want) {
          if (wrong.fetch_add(1) < 5) ADD_FAILURE() << "thread " << t << " round " << i << ": " << got;
        }
        done.fetch_add(1);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(done.load(), kThreads * kRounds);
  EXPECT_EQ(wrong.load(), 0);
  zado::ConnectionPool& pool = zado::ConnectionPool::Process();
  EXPECT_GE(pool.IdleCount(), 2u);
  EXPECT_LE(pool.IdleCount(U16(sqlite)), 16u);
  EXPECT_LE(pool.IdleCount(u"DSN=pgtest"), 16u);
  pool.Clear();
}

}  // namespace
}  // namespace adotest
