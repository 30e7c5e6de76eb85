// SIGTERM (and SIGHUP, SIGINT) while a slow request operation runs, in a
// child process: the request is answered when it ends within the drain time,
// cut when it does not, and the process exits 0 within a bounded time either
// way. With a grace time the server goes on serving (not ready) before the
// drain; connections waiting in the listen queue are answered, not reset.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "tests/platform/middleware/http_client.h"
#include "tests/platform/middleware/test_server.h"

namespace {

using namespace std::chrono_literals;
using boost::beast::http::verb;

struct Child {
  pid_t pid = -1;
  std::string address;
};

// Forks a server process with the given drain (and grace) time; its
// address comes back through a pipe.
Child StartServer(const std::string& drain_ms, const std::string& grace_ms = "0") {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  Child child;
  child.pid = fork();
  if (child.pid == 0) {
    close(fds[0]);
    {
      zrm_test::Running run(
          zrm_test::Vars{{"ZRM_THREADS", "2"},
                         {"ZRM_DRAIN_TIMEOUT_MS", drain_ms},
                         {"ZRM_DRAIN_GRACE_MS", grace_ms}});
      const std::string address = run.Address() + "\n";
      if (write(fds[1], address.data(), address.size()) < 0) _exit(3);
      run.loop.join();  // ends on SIGTERM
    }
    _exit(0);
  }
  close(fds[1]);
  char buf[64] = {};
  size_t got = 0;
  while (got < sizeof buf - 1) {
    const ssize_t n = read(fds[0], buf + got, 1);
    if (n <= 0 || buf[got] == '\n') break;
    ++got;
  }
  close(fds[0]);
  child.address.assign(buf, got);
  return child;
}

// Waits for the child up to limit; returns its wait status, or -1.
int WaitExit(pid_t pid, std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (std::chrono::steady_clock::now() < until) {
    if (waitpid(pid, &status, WNOHANG) == pid) return status;
    std::this_thread::sleep_for(10ms);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

// A request of 400 ms runs when signo comes: it is answered (and its
// connection closed), and the process exits 0 well within the drain time.
void AnsweredThenExitsZero(int signo) {
  Child child = StartServer("3000");
  ASSERT_FALSE(child.address.empty());
  zrm_test::HttpClient c(child.address);
  c.WriteRaw("POST /svc HTTP/1.1\r\nHost: x\r\nContent-Length: 24\r\n\r\n"
             "{\"M\":\"slow\",\"P1\":400}   ");
  std::this_thread::sleep_for(100ms);
  const auto start = std::chrono::steady_clock::now();
  kill(child.pid, signo);
  const auto answer = c.Read();
  EXPECT_EQ(answer.status, 200u);
  EXPECT_EQ(answer.body, "\"done\"");
  EXPECT_FALSE(answer.keep_alive);
  const int status = WaitExit(child.pid, 3s);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST(ZrmDrain, SigtermAnswersOrCutsRunningRequestsAndExitsZero) {
  AnsweredThenExitsZero(SIGTERM);  // finishes within the drain time
  {  // runs past the drain time: cut, and the process still ends with 0
    Child child = StartServer("300");
    ASSERT_FALSE(child.address.empty());
    zrm_test::HttpClient c(child.address);
    c.WriteRaw("POST /svc HTTP/1.1\r\nHost: x\r\nContent-Length: 22\r\n\r\n"
               "{\"M\":\"slow\",\"P1\":8000}");
    std::this_thread::sleep_for(100ms);
    const auto start = std::chrono::steady_clock::now();
    kill(child.pid, SIGTERM);
    const int status = WaitExit(child.pid, 3s);
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_TRUE(c.PeerClosed(1000));
  }
}

// Nothing to drain: the process ends right after the signal.
TEST(ZrmDrain, IdleServerExitsAtOnce) {
  for (const int signo : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(strsignal(signo));
    Child child = StartServer("3000");
    ASSERT_FALSE(child.address.empty());
    // Answered: the loop runs and catches the signal.
    ASSERT_EQ(zrm_test::HttpClient(child.address).Send(verb::get, "/healthz", "").status, 200u);
    std::this_thread::sleep_for(50ms);  // the connection's close seen by the server
    const auto start = std::chrono::steady_clock::now();
    kill(child.pid, signo);
    const int status = WaitExit(child.pid, 3s);
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
  Child child = StartServer("3000", "800");
  ASSERT_FALSE(child.address.empty());
  zrm_test::HttpClient before(child.address);
  EXPECT_EQ(before.Post("/svc", R"({"M":"echo","P1":"a"})").status, 200u);

  const auto start = std::chrono::steady_clock::now();
  kill(child.pid, SIGTERM);
  std::this_thread::sleep_for(100ms);
  zrm_test::HttpClient probe(child.address), other(child.address);
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

  const int status = WaitExit(child.pid, 3s);
  EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_GE(std::chrono::steady_clock::now() - start, 800ms) << "ended before the grace time";
  EXPECT_THROW(zrm_test::HttpClient{child.address}, boost::system::system_error);
}

// Connections that completed their handshake while the server could not
// accept (stopped here with SIGSTOP) sit in the listen queue when the drain
// begins: each gets a whole answer (503 with "Connection: close", or 200 if
// it was taken in before), none is reset or left without one.
TEST(ZrmDrain, ConnectionsInTheListenQueueAreAnswered) {
  Child child = StartServer("3000");
  ASSERT_FALSE(child.address.empty());
  ASSERT_EQ(zrm_test::PostOnce(child.address, "/svc", R"({"M":"echo","P1":"up"})").status, 200u);
  kill(child.pid, SIGSTOP);
  std::vector<std::unique_ptr<zrm_test::HttpClient>> queued;
  for (int i = 0; i < 6; ++i) {
    queued.push_back(std::make_unique<zrm_test::HttpClient>(child.address));
    queued.back()->WriteRaw(
        "POST /svc HTTP/1.1\r\nHost: x\r\nContent-Length: 21\r\n\r\n{\"M\":\"echo\",\"P1\":\"q\"}");
    queued.back()->SetReadTimeout(4000);
  }
  kill(child.pid, SIGTERM);
  kill(child.pid, SIGCONT);
  int refused = 0;
  for (auto& c : queued) {
    zrm_test::HttpAnswer a;
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
  const int status = WaitExit(child.pid, 3s);
  EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
