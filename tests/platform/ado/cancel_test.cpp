// Cancelling the statements of a thread from another thread, on SQLite, and
// the connection counts kept per data source.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "platform/ado/ado.h"
#include "platform/ado/connection_pool.h"
#include "tests/platform/ado/ado_test_util.h"
#include "tests/support/odbc_env.h"
#include "tests/support/wait_until.h"

namespace adotest {
namespace {

using namespace std::chrono_literals;

constexpr HRESULT kCancelled = MakeHr(0x800A0E80);
// Minutes of work for SQLite unless it is stopped.
const char kLongQuery[] =
    "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c WHERE x < 2000000000) SELECT count(*) FROM c";

AdoPoolUsage UsageOf(const std::string& dsn) {
  for (const AdoPoolUsage& u : AdoPoolUsageByDsn())
    if (u.dsn == dsn) return u;
  return {};
}

HRESULT OpenOnce(const std::string& sql, const std::string& connection) {
  ComScope com;
  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  const HRESULT hr = OpenRecordset(rs.get(), sql, connection);
  if (hr == S_OK) rs->Close();
  return hr;
}

TEST(StatementCancel, StopsTheRunningStatementAndClosesItsConnection) {
  const std::string dsn = vqtest::AddSqliteDsn("vq_cancel_run", "CREATE TABLE t(x integer);");
  // A statement that ends normally leaves its connection for reuse.
  ASSERT_EQ(OpenOnce("SELECT 1", "DSN=" + dsn), S_OK);
  ASSERT_EQ(zado::ConnectionPool::Process().IdleCount(u"DSN=vq_cancel_run"), 1u);

  std::promise<AdoStatementCancel*> made;
  std::promise<void> may_end;
  std::shared_future<void> end = may_end.get_future().share();
  auto opened = std::async(std::launch::async, [&] {
    AdoStatementCancel cancel;
    made.set_value(&cancel);
    const auto start = std::chrono::steady_clock::now();
    const HRESULT hr = OpenOnce(kLongQuery, "DSN=" + dsn);
    const auto took = std::chrono::steady_clock::now() - start;
    end.wait();  // the cancel object outlives the other thread's use
    return std::make_pair(hr, took);
  });
  AdoStatementCancel* cancel = made.get_future().get();
  // The test input: a statement that is running. Its connection is taken
  // first; nothing tells when the driver is inside the statement itself, so
  // it is given time for that.
  EXPECT_TRUE(vqtest::WaitUntil([&] { return UsageOf(dsn).busy == 1u; }, 10s));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(UsageOf(dsn).busy, 1u);
  EXPECT_TRUE(cancel->Cancel());
  EXPECT_FALSE(cancel->Cancel()) << "only the first call acts";
  EXPECT_TRUE(cancel->Cancelled());
  may_end.set_value();
  const auto [hr, took] = opened.get();
  EXPECT_EQ(hr, kCancelled) << TakeErrorInfo();
  EXPECT_LT(took, 10s);
  // The pooled connection was taken and, cancelled, not given back.
  EXPECT_EQ(zado::ConnectionPool::Process().IdleCount(u"DSN=vq_cancel_run"), 0u);
  const AdoPoolUsage usage = UsageOf(dsn);
  EXPECT_EQ(usage.busy, 0u);
  EXPECT_EQ(usage.idle, 0u);
}

TEST(StatementCancel, AStatementCancelledBeforeItStartsNeverRuns) {
  const std::string dsn = vqtest::AddSqliteDsn("vq_cancel_before", "CREATE TABLE t(x integer);");
  {
    AdoStatementCancel cancel;
    EXPECT_FALSE(cancel.Cancel()) << "nothing was running";
    EXPECT_EQ(OpenOnce("INSERT INTO t VALUES (1)", "DSN=" + dsn), kCancelled);
    EXPECT_EQ(OpenOnce("SELECT count(*) FROM t", "DSN=" + dsn), kCancelled);
  }
  // Without the cancel object the thread runs statements again.
  ComScope com;
  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  ASSERT_EQ(OpenRecordset(rs.get(), "SELECT count(*) AS n FROM t", "DSN=" + dsn), S_OK) << TakeErrorInfo();
  Ptr<Field> f;
  *f.Out() = GetField(rs.get(), 0);
  Var v;
  ASSERT_EQ(f->get_Value(&v.v), S_OK);
  Var text;
  ASSERT_EQ(VariantChangeType(&text.v, &v.v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(U8(text.v.bstrVal), "0") << "the INSERT must not have run";
}

TEST(PoolUsage, BusyIdleAndWaitsPerDataSource) {
  const std::string dsn = vqtest::AddSqliteDsn("vq_usage", "CREATE TABLE t(x integer);");
  ComScope com;
  EXPECT_EQ(UsageOf(dsn).waits, 0u);
  {
    Ptr<_Recordset> rs;
    *rs.Out() = NewRecordset();
    // Letter case and attributes after the name do not make another source.
    ASSERT_EQ(OpenRecordset(rs.get(), "SELECT 1", "DSN=VQ_Usage;Timeout=1000"), S_OK) << TakeErrorInfo();
    const AdoPoolUsage open = UsageOf(dsn);
    EXPECT_EQ(open.busy, 1u);
    EXPECT_EQ(open.idle, 0u);
    EXPECT_EQ(open.waits, 1u);
    rs->Close();
  }
  AdoPoolUsage after = UsageOf(dsn);
  EXPECT_EQ(after.busy, 0u);
  EXPECT_EQ(after.idle, 1u);
  // The idle connection is taken: no new wait.
  ASSERT_EQ(OpenOnce("SELECT 1", "DSN=VQ_Usage;Timeout=1000"), S_OK);
  after = UsageOf(dsn);
  EXPECT_EQ(after.waits, 1u);
  EXPECT_EQ(after.idle, 1u);
  // Another connection string of the same source has none idle: one more wait.
  ASSERT_EQ(OpenOnce("SELECT 1", "DSN=" + dsn), S_OK);
  after = UsageOf(dsn);
  EXPECT_EQ(after.waits, 2u);
  EXPECT_EQ(after.idle, 2u);
}

}  // namespace
}  // namespace adotest
