// Giving up requests nobody waits for (ZRM_CancelWatch): a client that
// closes, resets or half-closes its connection while its request runs; one
// that stays and sends more; and the end of the drain time.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <sstream>

#include "tests/platform/middleware/forked_server.h"
#include "tests/platform/middleware/test_server.h"
#include "tests/support/http_client.h"
#include "tests/support/metrics_probe.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/wait_until.h"

namespace {

using vqtest::HttpClient;
using zrm_test::Running;
using zrm_test::Vars;
using namespace std::chrono_literals;

std::string WaitRequest(int ms) {
  const std::string body = "{\"M\":\"wait\",\"P1\":" + std::to_string(ms) + "}";
  return "POST /svc HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string LastWaitOutcome() {
  std::lock_guard<std::mutex> lock(zrm_test::g_wait_mutex);
  return zrm_test::g_wait_outcome;
}

void ClearWaitOutcome() {
  std::lock_guard<std::mutex> lock(zrm_test::g_wait_mutex);
  zrm_test::g_wait_outcome.clear();
}

// True once a request is inside the request operation at address (a
// server in another process, with a thread free to answer /metrics).
bool RequestRuns(const std::string& address) {
  return vqtest::WaitUntil([&] { return vqtest::RequestsInFlight(address) >= 1; }, 5s);
}

// True once a "wait" request of this process's server got inside after
// `before` had.
bool WaitBegan(int before) {
  return vqtest::WaitUntil([&] { return zrm_test::g_waits_begun.load() > before; }, 5s);
}

std::string Metrics(const std::string& address) {
  HttpClient scrape(address);
  return scrape.Send(boost::beast::http::verb::get, "/metrics", "").body;
}

// The sum of vqsrv_requests_total over the commands for one outcome (other
// tests of the process may have used up the command labels).
long RequestsWithOutcome(const std::string& metrics, const std::string& outcome) {
  std::istringstream lines(metrics);
  std::string line;
  long sum = 0;
  const std::string key = "outcome=\"" + outcome + "\"} ";
  while (std::getline(lines, line))
    if (line.rfind("vqsrv_requests_total{", 0) == 0 && line.find(key) != std::string::npos)
      sum += std::stol(line.substr(line.find(key) + key.size()));
  return sum;
}

enum class Leave { kClose, kReset, kHalfClose };

TEST(ZrmCancel, ClientThatLeavesIsNoticedAndGetsNoAnswer) {
  // One request thread: the next request is served only once the given-up
  // one has returned.
  Running run(Vars{{"ZRM_THREADS", "1"}});
  const long client_errors = RequestsWithOutcome(Metrics(run.Address()), "client_error");
  for (const Leave leave : {Leave::kClose, Leave::kReset, Leave::kHalfClose}) {
    SCOPED_TRACE(static_cast<int>(leave));
    ClearWaitOutcome();
    HttpClient client(run.Address());
    const int before = zrm_test::g_waits_begun;
    client.WriteRaw(WaitRequest(20000));
    ASSERT_TRUE(WaitBegan(before));
    const auto start = std::chrono::steady_clock::now();
    if (leave == Leave::kReset) client.Reset();
    if (leave == Leave::kClose) client.Close();
    if (leave == Leave::kHalfClose) client.HalfClose();
    EXPECT_EQ(vqtest::PostOnce(run.Address(), "/svc", R"({"M":"echo","P1":"next"})").body, "\"next\"");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(LastWaitOutcome(), "client_gone");
    if (leave == Leave::kHalfClose) {
      // No answer: the connection just ends.
      char c;
      EXPECT_EQ(recv(client.NativeHandle(), &c, 1, 0), 0);
    }
  }
  const std::string metrics = Metrics(run.Address());
  EXPECT_EQ(RequestsWithOutcome(metrics, "client_error"), client_errors + 3) << metrics;
  EXPECT_EQ(metrics.find("code=\"499\""), std::string::npos) << "no answer was written";
}

TEST(ZrmCancel, ClientThatStaysGetsItsAnswerEvenWhenItSendsMore) {
  Running run(Vars{{"ZRM_THREADS", "1"}});
  HttpClient c(run.Address());
  // The second request arrives while the first runs; data is no hang-up.
  const int before = zrm_test::g_waits_begun;
  c.WriteRaw(WaitRequest(300));
  ASSERT_TRUE(WaitBegan(before));
  const std::string echo = R"({"M":"echo","P1":"ok"})";
  c.WriteRaw("POST /svc HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(echo.size()) + "\r\n\r\n" + echo);
  EXPECT_EQ(c.Read().body, "\"done\"");
  EXPECT_EQ(c.Read().body, "\"ok\"");
  // Outside a request a watch is inert.
  bool called = false;
  { ZRM_CancelWatch watch([&](ZRM_CancelReason) { called = true; }); }
  EXPECT_FALSE(called);
}

TEST(ZrmCancel, DrainTimeRunningOutGivesUpTheRequestAndExitsZero) {
  const vqtest::ScratchDir dir("zrm-cancel");
  const std::string trace = dir.File("trace.log");
  zrm_test::ForkedServer server(Vars{{"ZRM_THREADS", "2"}, {"ZRM_DRAIN_TIMEOUT_MS", "300"},
                                     {"ZRM_DEBUG", "1"}, {"ZRM_TRACE", trace}});
  const std::string address = server.Address();
  ASSERT_FALSE(address.empty());

  HttpClient c(address);
  c.WriteRaw(WaitRequest(20000));
  ASSERT_TRUE(RequestRuns(address));
  const auto start = std::chrono::steady_clock::now();
  const int status = server.Process().Stop(SIGTERM, 10s);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_LT(took, 3s);
  EXPECT_NE(vqtest::ReadFile(trace).find("wait: shutdown"), std::string::npos) << vqtest::ReadFile(trace);
}

}  // namespace
