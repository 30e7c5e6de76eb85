// The test harness itself: what a launched process gets and gives back, how
// it is stopped, waiting with a deadline, scratch folders and metric lines.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/metrics_probe.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/wait_until.h"

namespace vqtest {
namespace {

using namespace std::chrono_literals;

TEST(ChildProcess, ExecutableGetsItsEnvironmentFolderAndFilesAndGivesItsStatus) {
  const ScratchDir dir("support");
  ChildSpec spec;
  spec.argv = {"/bin/sh", "-c", "echo \"$ONLY:${HOME:-unset}\"; pwd; echo oops >&2; exit 3"};
  spec.env = {{"ONLY", "given"}, {"PATH", "/usr/bin:/bin"}};
  spec.work_dir = dir.Path();
  spec.out_path = dir.File("out");
  spec.err_path = dir.File("err");
  ChildProcess child(spec);
  const int status = child.Wait(10s);
  ASSERT_NE(status, -1);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_FALSE(child.Running());
  // Nothing of the caller's environment (HOME) leaks in.
  EXPECT_EQ(ReadFile(spec.out_path),
            "given:unset\n" + std::filesystem::canonical(dir.Path()).string() + "\n");
  EXPECT_EQ(ReadFile(spec.err_path), "oops\n");
}

TEST(ChildProcess, StopEndsItWithTheSignalOrKillsItAfterTheLimit) {
  {
    ChildSpec spec;
    spec.function = [] {
      pause();
      return 0;
    };
    ChildProcess child(spec);
    const int status = child.Stop(SIGTERM, 10s);
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  }
  {
    // A function that ignores the signal: -1, and it is gone all the same.
    const ScratchDir dir("support");
    const std::string ready = dir.File("ignoring");
    ChildSpec spec;
    spec.function = [&] {
      signal(SIGTERM, SIG_IGN);
      std::ofstream(ready) << "yes";
      for (;;) pause();
      return 0;
    };
    ChildProcess child(spec);
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(ready) == "yes"; }, 10s));
    EXPECT_EQ(child.Stop(SIGTERM, 300ms), -1);
    EXPECT_FALSE(child.Running());
    EXPECT_NE(kill(child.Pid(), 0), 0) << "killed and reaped";
  }
}

TEST(ChildProcess, TerminalChildSeesATerminalAndItsScreenIsRead) {
  ChildSpec spec;
  spec.argv = {"/bin/sh", "-c", "test -t 1 && echo on-a-terminal"};
  spec.env = {{"PATH", "/usr/bin:/bin"}};
  spec.terminal = true;
  ChildProcess child(spec);
  EXPECT_EQ(child.ReadTerminal(), "on-a-terminal\r\n");
  const int status = child.Wait(10s);
  EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(WaitUntil, AnswersWhetherTheConditionCameTrueBeforeTheDeadline) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(WaitUntil([] { return false; }, 100ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
  int calls = 0;
  EXPECT_TRUE(WaitUntil([&] { return ++calls == 3; }, 10s, 1ms));
  EXPECT_EQ(calls, 3);
}

TEST(ScratchDir, IsNewPerObjectUnderTmpdirAndGoesWithItsContents) {
  const ScratchDir base("support-base");
  const char* saved = std::getenv("TMPDIR");
  const std::string saved_value = saved ? saved : "";
  setenv("TMPDIR", base.Path().c_str(), 1);
  std::string path;
  {
    const ScratchDir a("x"), b("x");
    EXPECT_NE(a.Path(), b.Path());
    EXPECT_EQ(a.Path().rfind(base.Path() + "/x-", 0), 0u) << a.Path();
    path = a.Path();
    std::filesystem::create_directories(a.File("deep/er"));
    std::ofstream(a.File("deep/er/file")) << "data";
  }
  if (saved) {
    setenv("TMPDIR", saved_value.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(MetricSample, MatchesTheWholeSampleName) {
  const std::string text =
      "# HELP vqsrv_requests_in_flight Requests inside.\n"
      "vqsrv_requests_in_flight_max 9\n"
      "vqsrv_requests_in_flight 2\n"
      "vqsrv_requests_total{command=\"extr\",outcome=\"ok\"} 5\n";
  EXPECT_EQ(MetricSample(text, "vqsrv_requests_in_flight"), 2);
  EXPECT_EQ(MetricSample(text, "vqsrv_requests_total{command=\"extr\",outcome=\"ok\"}"), 5);
  EXPECT_EQ(MetricSample(text, "vqsrv_requests"), -1);
}

}  // namespace
}  // namespace vqtest
