// SIGUSR1 reopens the trace file: after a rename the records go to a new
// file at the path; a path that cannot be opened keeps the old file and says
// why on standard error; a trace on standard error only says so.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/http_client.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/wait_until.h"
#include "tests/platform/middleware/test_server.h"

namespace {

using namespace std::chrono_literals;
using vqtest::HttpClient;
using vqtest::ReadFile;
using zrm_test::Running;
using zrm_test::Vars;

const char kTrace[] = R"({"M":"trace"})";  // writes "one" and "ends" at level 1

// The records of a trace file, each "L<level> #<n> <text>" where n is "0"
// outside a request and "r" for a request (their numbers run on across the
// tests of one process).
std::vector<std::string> Records(const std::string& path) {
  std::vector<std::string> out;
  std::istringstream in(ReadFile(path));
  for (std::string line; std::getline(in, line);) {
    const size_t level = line.find(" L");
    const size_t hash = line.find(" #");
    const size_t text = line.find(' ', hash + 1);
    if (level == std::string::npos || hash == std::string::npos || text == std::string::npos) {
      out.push_back("<no layout> " + line);
      continue;
    }
    const std::string number = line.substr(hash + 2, text - hash - 2);
    out.push_back(line.substr(level + 1, hash - level) + (number == "0" ? "#0" : "#r") +
                  line.substr(text));
  }
  return out;
}

bool WaitFor(const std::function<bool()>& done) { return vqtest::WaitUntil(done, 3s, 10ms); }

bool Contains(const std::string& path, const std::string& text) {
  return ReadFile(path).find(text) != std::string::npos;
}

// Sends standard error to a file for the life of the object.
class StderrToFile {
 public:
  explicit StderrToFile(const std::string& path) {
    saved_ = dup(STDERR_FILENO);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, STDERR_FILENO);
    close(fd);
  }
  ~StderrToFile() {
    dup2(saved_, STDERR_FILENO);
    close(saved_);
  }

 private:
  int saved_;
};

TEST(ZrmTraceReopen, RenamedFileIsFollowedByANewOneAtThePath) {
  const vqtest::ScratchDir dir("zrm-reopen");
  const std::string path = dir.Path() + "/trace.log";
  Running run(Vars{{"ZRM_DEBUG", "1"}, {"ZRM_TRACE", path}});
  HttpClient c(run.Address());
  ASSERT_EQ(c.Post("/svc", kTrace).status, 200u);

  ASSERT_EQ(rename(path.c_str(), (path + ".1").c_str()), 0);
  kill(getpid(), SIGUSR1);
  ASSERT_TRUE(WaitFor([&] { return Contains(path, "SIGUSR1: trace file reopened"); }));
  ASSERT_EQ(c.Post("/svc", kTrace).status, 200u);

  EXPECT_EQ(Records(path + ".1"), (std::vector<std::string>{"L1 #r one", "L1 #r ends"}));
  EXPECT_EQ(Records(path), (std::vector<std::string>{"L1 #0 SIGUSR1: trace file reopened",
                                                     "L1 #r one", "L1 #r ends"}));
  // Made by the same rules as the first file.
  struct stat old_file {}, new_file {};
  ASSERT_EQ(stat((path + ".1").c_str(), &old_file), 0);
  ASSERT_EQ(stat(path.c_str(), &new_file), 0);
  EXPECT_EQ(new_file.st_mode, old_file.st_mode);

  // A second rotation works the same way.
  ASSERT_EQ(rename(path.c_str(), (path + ".2").c_str()), 0);
  kill(getpid(), SIGUSR1);
  ASSERT_TRUE(WaitFor([&] { return Contains(path, "SIGUSR1: trace file reopened"); }));
  ASSERT_EQ(c.Post("/svc", kTrace).status, 200u);
  EXPECT_EQ(Records(path).back(), "L1 #r ends");
  EXPECT_EQ(Records(path + ".2").size(), 3u);
}

TEST(ZrmTraceReopen, FailureKeepsTheOldFileAndSaysWhyOnStandardError) {
  const vqtest::ScratchDir dir("zrm-reopen");
  ASSERT_EQ(mkdir((dir.Path() + "/logs").c_str(), 0700), 0);
  const std::string path = dir.Path() + "/logs/trace.log";
  const std::string moved = dir.Path() + "/moved/trace.log";
  const std::string err = dir.Path() + "/stderr.txt";
  StderrToFile capture(err);
  Running run(Vars{{"ZRM_DEBUG", "1"}, {"ZRM_TRACE", path}});
  HttpClient c(run.Address());
  ASSERT_EQ(c.Post("/svc", kTrace).status, 200u);  // the loop runs, so signals are heard

  // The folder goes: the path cannot be opened again.
  ASSERT_EQ(rename((dir.Path() + "/logs").c_str(), (dir.Path() + "/moved").c_str()), 0);
  kill(getpid(), SIGUSR1);
  ASSERT_TRUE(WaitFor([&] { return Contains(err, "No such file or directory"); }));
  EXPECT_EQ(ReadFile(err), "vqsrv: SIGUSR1: cannot reopen the trace file \"" + path +
                               "\": No such file or directory; writing on to the old file\n");
  ASSERT_EQ(c.Post("/svc", kTrace).status, 200u);
  const auto records = Records(moved);
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[0], "L1 #r one");
  EXPECT_EQ(records[2].rfind("L1 #0 SIGUSR1: cannot reopen the trace file", 0), 0u) << records[2];
  EXPECT_EQ(records[4], "L1 #r ends");
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(ZrmTraceReopen, OnStandardErrorItOnlySaysSoAndOutsideTheLoopNothingHappens) {
  const vqtest::ScratchDir dir("zrm-reopen");
  const std::string err = dir.Path() + "/stderr.txt";
  StderrToFile capture(err);
  {
    Running run(Vars{{"ZRM_DEBUG", "1"}});
    HttpClient c(run.Address());
    ASSERT_EQ(c.Post("/svc", R"({"M":"echo","P1":"first"})").body, "\"first\"");
    kill(getpid(), SIGUSR1);
    ASSERT_TRUE(WaitFor([&] { return Contains(err, "nothing to reopen"); }));
    EXPECT_EQ(Records(err),
              (std::vector<std::string>{"L1 #0 SIGUSR1: the trace goes to standard error; nothing to reopen"}));
    EXPECT_EQ(c.Post("/svc", R"({"M":"echo","P1":"still"})").body, "\"still\"");
  }
  // The loop has ended: a late SIGUSR1 (a rotation during shutdown) must not
  // end the process by its default action.
  kill(getpid(), SIGUSR1);
  // The test input: time for the signal to be delivered; the process must
  // still run afterwards.
  std::this_thread::sleep_for(50ms);
  SUCCEED();
}

}  // namespace
