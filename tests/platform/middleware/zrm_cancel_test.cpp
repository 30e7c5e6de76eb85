// Giving up requests nobody waits for (ZRM_CancelWatch): a client that
// closes, resets or half-closes its connection while its request runs; one
// that stays and sends more; and the end of the drain time.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/platform/middleware/http_client.h"
#include "tests/platform/middleware/test_server.h"

namespace {

using zrm_test::HttpClient;
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

// A plain socket, so the test decides how the connection ends.
int Connect(const std::string& address) {
  const auto colon = address.rfind(':');
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(std::stoi(address.substr(colon + 1))));
  inet_pton(AF_INET, address.substr(0, colon).c_str(), &to.sin_addr);
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  return fd;
}

void Send(int fd, const std::string& bytes) {
  EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
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
    const int fd = Connect(run.Address());
    Send(fd, WaitRequest(20000));
    std::this_thread::sleep_for(200ms);
    const auto start = std::chrono::steady_clock::now();
    if (leave == Leave::kReset) {
      const linger hard{1, 0};
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    if (leave == Leave::kHalfClose) {
      shutdown(fd, SHUT_WR);
    } else {
      close(fd);
    }
    EXPECT_EQ(zrm_test::PostOnce(run.Address(), "/svc", R"({"M":"echo","P1":"next"})").body, "\"next\"");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(LastWaitOutcome(), "client_gone");
    if (leave == Leave::kHalfClose) {
      // No answer: the connection just ends.
      char c;
      EXPECT_EQ(recv(fd, &c, 1, 0), 0);
      close(fd);
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
  c.WriteRaw(WaitRequest(300));
  std::this_thread::sleep_for(100ms);
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
  const std::string trace = (std::filesystem::temp_directory_path() /
                             ("zrm-cancel-" + std::to_string(getpid()) + ".log")).string();
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    {
      Running run(Vars{{"ZRM_THREADS", "2"}, {"ZRM_DRAIN_TIMEOUT_MS", "300"}, {"ZRM_DEBUG", "1"},
                       {"ZRM_TRACE", trace}});
      const std::string address = run.Address() + "\n";
      if (write(fds[1], address.data(), address.size()) < 0) _exit(3);
      run.loop.join();  // ends on SIGTERM
    }
    _exit(0);
  }
  close(fds[1]);
  std::string address;
  char ch;
  while (read(fds[0], &ch, 1) == 1 && ch != '\n') address.push_back(ch);
  close(fds[0]);
  ASSERT_FALSE(address.empty());

  HttpClient c(address);
  c.WriteRaw(WaitRequest(20000));
  std::this_thread::sleep_for(200ms);
  const auto start = std::chrono::steady_clock::now();
  kill(pid, SIGTERM);
  int status = -1;
  while (waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() - start < 10s)
    std::this_thread::sleep_for(10ms);
  const auto took = std::chrono::steady_clock::now() - start;
  if (took >= 10s) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_LT(took, 3s);
  std::ifstream in(trace);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("wait: shutdown"), std::string::npos) << text.str();
  std::filesystem::remove(trace);
}

}  // namespace
