// SIGTERM (and SIGHUP, SIGINT) while a slow request operation runs, in a
// child process: the request is answered when it ends within the drain time,
// cut when it does not, and the process exits 0 within a bounded time either
// way.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "tests/platform/middleware/http_client.h"
#include "tests/platform/middleware/test_server.h"

namespace {

using namespace std::chrono_literals;

struct Child {
  pid_t pid = -1;
  std::string address;
};

// Forks a server process with the given drain time; its address comes back
// through a pipe.
Child StartServer(const std::string& drain_ms) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  Child child;
  child.pid = fork();
  if (child.pid == 0) {
    close(fds[0]);
    {
      zrm_test::Running run(
          zrm_test::Vars{{"ZRM_THREADS", "2"}, {"ZRM_DRAIN_TIMEOUT_MS", drain_ms}});
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

TEST(ZrmDrain, HangupAndInterruptDrainLikeSigterm) {
  for (const int signo : {SIGHUP, SIGINT}) {
    SCOPED_TRACE(strsignal(signo));
    AnsweredThenExitsZero(signo);
  }
}

}  // namespace
