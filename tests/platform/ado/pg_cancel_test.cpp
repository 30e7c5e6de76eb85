// Cancelling a PostgreSQL statement from another thread, while it executes
// and while its rows are fetched (with UseDeclareFetch=1 each fetch runs the
// query further on the server).
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "platform/ado/ado.h"
#include "tests/platform/ado/ado_test_util.h"
#include "tests/support/db_client.h"
#include "tests/support/odbc_env.h"
#include "tests/support/wait_until.h"

namespace adotest {
namespace {

using namespace std::chrono_literals;

constexpr HRESULT kCancelled = MakeHr(0x800A0E80);

// True once a backend runs a statement whose text holds "cancel-" + tag.
bool SeenOnServer(const std::string& tag) {
  // The tag is split so that this query does not find itself.
  return vqtest::PsqlClient("SELECT count(*) FROM pg_stat_activity WHERE state = 'active' AND query LIKE "
                            "'%cancel-' || '" + tag + "%'") != "0";
}

// Runs sql on its own thread under an AdoStatementCancel, cancels it
// `after` the server is seen running it (connecting takes a while under the
// sanitizers), and gives Open's result and how long Open took.
std::pair<HRESULT, std::chrono::steady_clock::duration> CancelAfter(const std::string& sql, const std::string& tag,
                                                                   std::chrono::milliseconds after) {
  std::promise<AdoStatementCancel*> made;
  std::promise<void> may_end;
  std::shared_future<void> end = may_end.get_future().share();
  auto opened = std::async(std::launch::async, [&] {
    ComScope com;
    AdoStatementCancel cancel;
    made.set_value(&cancel);
    const auto start = std::chrono::steady_clock::now();
    Ptr<_Recordset> rs;
    *rs.Out() = NewRecordset();
    const HRESULT hr = OpenRecordset(rs.get(), sql, "DSN=pgtest");
    const auto took = std::chrono::steady_clock::now() - start;
    end.wait();
    return std::make_pair(hr, took);
  });
  AdoStatementCancel* cancel = made.get_future().get();
  vqtest::WaitUntil([&] { return SeenOnServer(tag); }, 4s, 20ms);
  // The test input: how far into the statement the cancel comes.
  std::this_thread::sleep_for(after);
  EXPECT_TRUE(cancel->Cancel());
  may_end.set_value();
  return opened.get();
}

TEST(PgCancel, StopsTheStatementWhileItExecutesAndWhileItFetches) {
  if (!vqtest::AddPgDsn()) {
    if (vqtest::RequirePg()) FAIL() << vqtest::PgUnavailableReason();
    GTEST_SKIP() << vqtest::PgUnavailableReason();
  }
  {
    const auto [hr, took] = CancelAfter("SELECT pg_sleep(30) /* cancel-exec */", "exec", 100ms);
    EXPECT_EQ(hr, kCancelled) << TakeErrorInfo();
    EXPECT_LT(took, 5s);
  }
  {
    // The first block of 1000 rows comes with the execution, in half a
    // second; each later fetch takes a second on the server, 19 in all, and
    // the first of them runs when the cancel comes. The driver cannot be
    // interrupted within a fetch: the statement stops before the next one.
    const auto [hr, took] = CancelAfter(
        "SELECT x, CASE WHEN x > 500 THEN pg_sleep(0.001) END AS s FROM generate_series(1, 20000) x "
        "/* cancel-fetch */",
        "fetch", 800ms);
    EXPECT_EQ(hr, kCancelled) << TakeErrorInfo();
    EXPECT_LT(took, 8s);
  }
  // Nothing of either statement runs on the server any more.
  std::string active;
  vqtest::WaitUntil([&] {
    active = vqtest::PsqlClient(
        "SELECT count(*) FROM pg_stat_activity WHERE state = 'active' AND query LIKE '%cancel-' || 'e%' "
        "OR state = 'active' AND query LIKE '%cancel-' || 'f%'");
    return active == "0";
  }, 5s, 100ms);
  EXPECT_EQ(active, "0");
}

}  // namespace
}  // namespace adotest
