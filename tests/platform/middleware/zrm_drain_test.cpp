// SIGTERM (and SIGHUP, SIGINT) while a slow request operation runs, in a
// child process: the request is answered when it ends within the drain time,
// cut when it does not, and the process exits 0 within a bounded time either
// way. With a grace time the server goes on serving (not ready) before the
// drain; connections waiting in the listen queue are answered, not reset.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "tests/platform/middleware/forked_server.h"
#include "tests/support/http_client.h"
#include "tests/support/metrics_probe.h"
#include "tests/support/wait_until.h"

namespace {

using namespace std::chrono_literals;
using boost::beast::http::verb;
using zrm_test::ForkedServer;
using zrm_test::Vars;

// A server process with the given drain (and grace) time.
Vars DrainVars(const std::string& drain_ms, const std::string& grace_ms = "0") {
  return Vars{{"ZRM_THREADS", "2"}, {"ZRM_DRAIN_TIMEOUT_MS", drain_ms}, {"ZRM_DRAIN_GRACE_MS", grace_ms}};
}

// True once a request is inside the request operation at address.
bool RequestRuns(const std::string& address) {
  return vqtest::WaitUntil([&] { return vqtest::RequestsInFlight(address) >= 1; }, 5s);
}

// A request of 400 ms runs when signo comes: it is answered (and its
// connection closed), and the process exits 0 well within the drain time.
void AnsweredThenExitsZero(int signo) {
  ForkedServer child(DrainVars("3000"));
  ASSERT_FALSE(child.Address().empty());
  vqtest::HttpClient c(child.Address());
  c.WriteRaw("POST /svc HTTP/1.1\r\nHost: x\r\nContent-Length: 24\r\n\r\n"
             "{\"M\":\"slow\",\"P1\":400}   ");
  ASSERT_TRUE(RequestRuns(child.Address()));
  const auto start = std::chrono::steady_clock::now();
  child.Process().Signal(signo);
  const auto answer = c.Read();
  EXPECT_EQ(answer.status, 200u);
  EXPECT_EQ(answer.body, "\"done\"");
  EXPECT_FALSE(answer.keep_alive);
  const int status = child.Process().Wait(3s);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST(ZrmDrain, SigtermAnswersOrCutsRunningRequestsAndExitsZero) {
  AnsweredThenExitsZero(SIGTERM);  // finishes within the drain time
  {  // runs past the drain time: cut, and the process still ends with 0
    ForkedServer child(DrainVars("300"));
    ASSERT_FALSE(child.Address().empty());
    vqtest::HttpClient c(child.Address());
    c.WriteRaw("POST /svc HTTP/1.1\r\nHost: x\r\nContent-Length: 22\r\n\r\n"
               "{\"M\":\"slow\",\"P1\":8000}");
    ASSERT_TRUE(RequestRuns(child.Address()));
    const auto start = std::chrono::steady_clock::now();
    child.Process().Signal(SIGTERM);
    const int status = child.Process().Wait(3s);
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_TRUE(c.PeerClosed(1000));
  }
}

// Nothing to drain: the process ends right after the signal.
TEST(ZrmDrain, IdleServerExitsAtOnce) {
  for (const int signo : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(strsignal(signo));
    ForkedServer child(DrainVars("3000"));
    ASSERT_FALSE(child.Address().empty());
    // Answered: the loop runs and catches the signal.
    ASSERT_EQ(vqtest::HttpClient(child.Address()).Send(verb::get, "/healthz", "").status, 200u);
    // The server sees the probe's connection close; nothing it serves
    // tells when, so this is a settle time, not a wait for a state.
    std::this_thread::sleep_for(50ms);
    const auto start = std::chrono::steady_clock::now();
    child.Process().Signal(signo);
    const int status = child.Process().Wait(3s);
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  }
}

TEST(ZrmDrain, HangupAndInterruptDrainLikeSigterm) {
  for (const int signo : {SIGHUP, SIGINT}) {
    SCOPED_TRACE(strsignal(signo));
    AnsweredThenExitsZero(signo);
  }
}

// During the grace time: /readyz answers 503 at once, new connections and
// a keep-alive connection opened before the stop are served (and closed
// after their answer); after it the listener is closed, so a connection
// attempt is refused at once, and the process exits 0.
TEST(ZrmDrain, GraceTimeServesWhileNotReadyThenClosesTheListener) {
  ForkedServer child(DrainVars("3000", "800"));
  ASSERT_FALSE(child.Address().empty());
  vqtest::HttpClient before(child.Address());
  EXPECT_EQ(before.Post("/svc", R"({"M":"echo","P1":"a"})").status, 200u);

  const auto start = std::chrono::steady_clock::now();
  child.Process().Signal(SIGTERM);
  // The stop has begun once a fresh connection hears "not ready".
  EXPECT_TRUE(vqtest::WaitUntil([&] {
    try {
      return vqtest::Request(child.Address(), verb::get, "/readyz", "", {}, 2000).status == 503u;
    } catch (const std::exception&) {
      return false;
    }
  }, 600ms, 10ms));
  vqtest::HttpClient probe(child.Address()), other(child.Address());
  probe.SetReadTimeout(2000);
  other.SetReadTimeout(2000);
  before.SetReadTimeout(2000);
  const auto ready = probe.Send(verb::get, "/readyz", "");
  EXPECT_EQ(ready.status, 503u);
  EXPECT_EQ(ready.body, R"({"status":"draining"})");
  const auto fresh = other.Post("/svc", R"({"M":"echo","P1":"b"})");
  EXPECT_EQ(fresh.status, 200u);
  EXPECT_EQ(fresh.body, "\"b\"");
  EXPECT_FALSE(fresh.keep_alive);
  const auto old = before.Post("/svc", R"({"M":"echo","P1":"c"})");
  EXPECT_EQ(old.status, 200u);
  EXPECT_EQ(old.body, "\"c\"");
  EXPECT_FALSE(old.keep_alive);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 700ms) << "checks ran past the grace";

  const int status = child.Process().Wait(3s);
  EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_GE(std::chrono::steady_clock::now() - start, 800ms) << "ended before the grace time";
  EXPECT_THROW(vqtest::HttpClient{child.Address()}, boost::system::system_error);
}

// Connections that completed their handshake while the server could not
// accept (stopped here with SIGSTOP) sit in the listen queue when the drain
// begins: each gets a whole answer (503 with "Connection: close", or 200 if
// it was taken in before), none is reset or left without one.
TEST(ZrmDrain, ConnectionsInTheListenQueueAreAnswered) {
  ForkedServer child(DrainVars("3000"));
  ASSERT_FALSE(child.Address().empty());
  ASSERT_EQ(vqtest::PostOnce(child.Address(), "/svc", R"({"M":"echo","P1":"up"})").status, 200u);
  child.Process().Signal(SIGSTOP);
  std::vector<std::unique_ptr<vqtest::HttpClient>> queued;
  for (int i = 0; i < 6; ++i) {
    queued.push_back(std::make_unique<vqtest::HttpClient>(child.Address()));
    queued.back()->WriteRaw(
        "POST /svc HTTP/1.1\r\nHost: x\r\nContent-Length: 21\r\n\r\n{\"M\":\"echo\",\"P1\":\"q\"}");
    queued.back()->SetReadTimeout(4000);
  }
  child.Process().Signal(SIGTERM);
  child.Process().Signal(SIGCONT);
  int refused = 0;
  for (auto& c : queued) {
    vqtest::HttpAnswer a;
    ASSERT_NO_THROW(a = c->Read()) << "a queued connection got no answer";
    EXPECT_TRUE(a.status == 200u || a.status == 503u) << a.status;
    if (a.status == 503u) {
      ++refused;
      EXPECT_NE(a.body.find("ServiceUnavailable"), std::string::npos) << a.body;
      EXPECT_FALSE(a.keep_alive);
    } else {
      EXPECT_EQ(a.body, "\"q\"");
    }
  }
  std::printf("queued connections answered 503: %d of %zu\n", refused, queued.size());
  const int status = child.Process().Wait(3s);
  EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
