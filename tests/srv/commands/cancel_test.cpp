// Statements nobody waits for are cancelled, through a vqsrv process: a
// client that leaves while its statement runs on PostgreSQL, MariaDB or
// SQLite, and SIGTERM whose drain time runs out during a statement. The
// time bounds are what the service promises, checked with deadlines.
#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/srv/commands/backends.h"
#include "tests/srv/commands/test_data.h"
#include "tests/support/vqsrv_process.h"
#include "tests/support/vqsrv_requests.h"
#include "tests/support/db_client.h"
#include "tests/support/http_client.h"
#include "tests/support/odbc_env.h"
#include "tests/support/wait_until.h"

namespace vqtest {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Sends one request on a connection of its own and leaves it open.
std::unique_ptr<HttpClient> SendRequest(const VqsrvProcess& vq, const std::string& body) {
  auto client = std::make_unique<HttpClient>(vq.Address());
  client->WriteRaw("POST /ZIDozeve HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                   "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  return client;
}

// Calls probe until it answers true, for at most limit; true when it did.
bool Within(Clock::duration limit, const std::function<bool()>& probe) {
  return WaitUntil(probe, std::chrono::duration_cast<std::chrono::milliseconds>(limit), 50ms);
}

// The value of one sample of GET /metrics; -1 when it is not there.
long Metric(const VqsrvProcess& vq, const std::string& sample) {
  const std::string text = vq.Get("/metrics").body;
  const size_t at = text.find("\n" + sample + " ");
  if (at == std::string::npos) return -1;
  return std::stol(text.substr(at + sample.size() + 2));
}

const char kClientGone[] = "vqsrv_statements_cancelled_total{reason=\"client_gone\"}";

std::string PgIniOrSkip() {
  std::string why;
  const std::string ini = PgOdbcIni(why);
  if (ini.empty() && RequirePg()) ADD_FAILURE() << why;
  return ini;
}

// The backend running a statement whose text holds tag, once it runs.
std::string PgBackendOf(const std::string& tag) {
  std::string pid;
  Within(10s, [&] {
    // The tag is split so that this query does not find itself.
    pid = PsqlClient("SELECT pid FROM pg_stat_activity WHERE state = 'active' AND query LIKE '%" +
                     tag.substr(0, 3) + "' || '" + tag.substr(3) + "%'");
    return !pid.empty();
  });
  return pid;
}

bool PgBackendIdle(const std::string& pid) {
  return PsqlClient("SELECT count(*) FROM pg_stat_activity WHERE pid = " + pid + " AND state = 'active'") == "0";
}

TEST(CancelPg, ClientGoneStopsTheStatementAndItsConnectionIsNotReused) {
  const std::string ini = PgIniOrSkip();
  if (ini.empty()) GTEST_SKIP() << "no PostgreSQL server";
  // Two threads: /metrics is answered while the statement runs.
  VqsrvProcess vq(ini, 0, {"ZRM_THREADS=2", "VQ_DSNS=pgtest"});
  const auto sent = Clock::now();
  const auto client = SendRequest(vq, QueryRequest("pgtest", "SELECT pg_sleep(30) AS cancel_pg_gone", 1));
  const std::string pid = PgBackendOf("cancel_pg_gone");
  ASSERT_FALSE(pid.empty()) << "the statement never ran";
  EXPECT_EQ(Metric(vq, "vqsrv_db_pool_connections{dsn=\"pgtest\",state=\"busy\"}"), 1);
  std::this_thread::sleep_until(sent + 500ms);
  client->Close();
  const auto gone = Clock::now();
  EXPECT_TRUE(Within(2s, [&] { return PgBackendIdle(pid); })) << "still running after 2 s";
  std::printf("[ cancel  ] PostgreSQL, client gone: backend %s idle %.0f ms after the close\n", pid.c_str(),
              std::chrono::duration<double, std::milli>(Clock::now() - gone).count());
  EXPECT_EQ(Metric(vq, kClientGone), 1);
  // The cancelled connection was closed, not kept: the next request opens one.
  EXPECT_EQ(Metric(vq, "vqsrv_db_pool_connections{dsn=\"pgtest\",state=\"idle\"}"), 0);
  EXPECT_EQ(vq.Post(QueryRequest("pgtest", "SELECT 41 + 1", 1)).body, "\"42\"");
  EXPECT_EQ(Metric(vq, "vqsrv_db_pool_connections{dsn=\"pgtest\",state=\"idle\"}"), 1);
  EXPECT_EQ(Metric(vq, "vqsrv_db_pool_connections{dsn=\"pgtest\",state=\"busy\"}"), 0);
  EXPECT_EQ(Metric(vq, "vqsrv_db_pool_waits_total{dsn=\"pgtest\"}"), 2);
}

TEST(CancelPg, DrainTimeRunningOutCancelsTheStatementAndExitsZero) {
  const std::string ini = PgIniOrSkip();
  if (ini.empty()) GTEST_SKIP() << "no PostgreSQL server";
  VqsrvProcess vq(ini, 0, {"ZRM_DRAIN_TIMEOUT_MS=1000"});
  const auto sent = Clock::now();
  const auto client = SendRequest(vq, QueryRequest("pgtest", "SELECT pg_sleep(30) AS cancel_pg_term", 1));
  const std::string pid = PgBackendOf("cancel_pg_term");
  ASSERT_FALSE(pid.empty()) << "the statement never ran";
  std::this_thread::sleep_until(sent + 500ms);
  const auto term = Clock::now();
  const int status = vq.Terminate(10000);
  const auto took = Clock::now() - term;
  EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_LT(took, 3s);
  std::printf("[ cancel  ] PostgreSQL, SIGTERM with a 1000 ms drain: exit after %.0f ms\n",
              std::chrono::duration<double, std::milli>(took).count());
  EXPECT_TRUE(Within(500ms, [&] { return PgBackendIdle(pid); })) << "the statement outlived the process";
  client->Close();
}

TEST(CancelMaria, ClientGoneStopsTheStatement) {
  std::string why;
  const std::string ini = MariaOdbcIni(why);
  if (ini.empty()) {
    if (RequireMaria()) FAIL() << why;
    GTEST_SKIP() << why;
  }
  VqsrvProcess vq(ini, 0, {"ZRM_THREADS=2"});
  // The pattern is split so that the query does not find itself.
  const std::string running =
      "SELECT count(*) FROM information_schema.processlist WHERE info LIKE CONCAT('%cancel_ma', 'ria_gone%')";
  const auto sent = Clock::now();
  const auto client = SendRequest(vq, QueryRequest("mariatest", "SELECT SLEEP(30) AS cancel_maria_gone", 1));
  ASSERT_TRUE(Within(10s, [&] { return MariaBackend::Client(running) == ClientLines{"1"}; }))
      << "the statement never ran";
  std::this_thread::sleep_until(sent + 500ms);
  client->Close();
  const auto gone = Clock::now();
  EXPECT_TRUE(Within(2s, [&] { return MariaBackend::Client(running) == ClientLines{"0"}; }))
      << "still running after 2 s";
  std::printf("[ cancel  ] MariaDB, client gone: statement gone %.0f ms after the close\n",
              std::chrono::duration<double, std::milli>(Clock::now() - gone).count());
  EXPECT_EQ(Metric(vq, kClientGone), 1);
  EXPECT_EQ(vq.Post(QueryRequest("mariatest", "SELECT 41 + 1", 1)).body, "\"42\"");
}

TEST(CancelSqlite, ClientGoneFreesTheOnlyRequestThread) {
  SqliteSource source("CREATE TABLE t (x integer);");
  VqsrvProcess vq(source.OdbcIni(), 0, {"ZRM_THREADS=1"});
  // Many seconds of work for SQLite unless it is stopped.
  const auto client = SendRequest(vq, QueryRequest(source.Dsn(),
                                                     "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c "
                                                     "WHERE x < 300000000) SELECT count(*) FROM c",
                                                     1));
  // The test input: a statement that runs when the client goes. The only
  // request thread is busy with it, so nothing the server serves can tell
  // when it started; it is given the time.
  std::this_thread::sleep_for(500ms);
  client->Reset();
  const auto gone = Clock::now();
  const HttpAnswer next = vq.Post(QueryRequest(source.Dsn(), "SELECT 41 + 1", 1));
  const auto took = Clock::now() - gone;
  EXPECT_EQ(next.body, "\"42\"");
  EXPECT_LT(took, 2s);
  std::printf("[ cancel  ] SQLite, client gone: next request answered %.0f ms after the reset\n",
              std::chrono::duration<double, std::milli>(took).count());
  EXPECT_EQ(Metric(vq, kClientGone), 1);
}

}  // namespace
}  // namespace vqtest
