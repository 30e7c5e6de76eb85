// Database faults seen by a client of a running vqsrv: a driver library
// that is missing, a SQLite file that is missing or locked, a PostgreSQL
// server that stops and comes back, and a statement past the time limit.
// Each gives the command's error reply within a bounded time, and the next
// good request succeeds.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/srv/commands/test_data.h"
#include "tests/support/vqsrv_process.h"
#include "tests/support/vqsrv_requests.h"
#include "tests/support/child_process.h"
#include "tests/support/odbc_env.h"
#include "tests/support/wait_until.h"

namespace vqtest {
namespace {

using Clock = std::chrono::steady_clock;

bool IsErrorText(const std::string& reply) { return reply.rfind("Error code = 80004005 (", 0) == 0; }

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

class FaultsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Statements get two seconds, so the time-limit case is quick.
    setenv("VQ_ADO_COMMAND_TIMEOUT", "2", 1);
    source_ = std::make_unique<SqliteSource>();
    server_ = std::make_unique<VqsrvProcess>(source_->OdbcIni(), 0);
  }
  static void TearDownTestSuite() {
    server_.reset();
    source_.reset();
    unsetenv("VQ_ADO_COMMAND_TIMEOUT");
  }

  static std::string Query(const std::string& dsn, const std::string& sql, int p3 = -1) {
    const auto doc = server_->Call(QueryRequest(dsn, sql, p3));
    return doc.IsString() ? std::string(doc.GetString(), doc.GetStringLength()) : "<no string>";
  }
  static std::string OpenBody(const std::string& dsn) { return server_->Post(OpenRequest(dsn)).body; }
  // The good request that must work after each fault.
  static void ExpectServing() { EXPECT_EQ(Query(source_->Dsn(), "SELECT x, y FROM pairs ORDER BY x"), "a|b|c|d"); }

  static inline std::unique_ptr<SqliteSource> source_;
  static inline std::unique_ptr<VqsrvProcess> server_;
};

TEST_F(FaultsTest, MissingDriverLibraryAnswersTheError) {
  AddDsn("vq_no_driver", "Driver=/nonexistent/libnothing.so\nDatabase=/tmp/vq_no_driver.db\n");
  const auto start = Clock::now();
  const std::string reply = Query("vq_no_driver", "SELECT 1");
  EXPECT_TRUE(IsErrorText(reply)) << reply;
  EXPECT_NE(reply.find("libnothing"), std::string::npos) << reply;
  EXPECT_EQ(OpenBody("vq_no_driver"), R"({"Status":false})");
  EXPECT_LT(Seconds(start), 5.0);
  ExpectServing();
}

TEST_F(FaultsTest, MissingSqliteFile) {
  const std::string dir = TempDir() + "/faults-missing";
  std::filesystem::create_directories(dir);
  // As the driver does by default: the file is made, empty, so the client
  // learns of the mistake from the statement.
  const std::string made = dir + "/made.db";
  AddDsn("vq_missing_made", "Driver=SQLite3\nDatabase=" + made + "\nTimeout=2000\n");
  const std::string reply = Query("vq_missing_made", "SELECT x FROM pairs");
  EXPECT_TRUE(IsErrorText(reply)) << reply;
  EXPECT_NE(reply.find("no such table"), std::string::npos) << reply;
  EXPECT_TRUE(std::filesystem::exists(made));
  // With NoCreat=1 the connect itself fails and nothing is made.
  const std::string refused = dir + "/refused.db";
  AddDsn("vq_missing_refused", "Driver=SQLite3\nDatabase=" + refused + "\nTimeout=2000\nNoCreat=1\n");
  const std::string refused_reply = Query("vq_missing_refused", "SELECT 1");
  EXPECT_TRUE(IsErrorText(refused_reply)) << refused_reply;
  EXPECT_EQ(OpenBody("vq_missing_refused"), R"({"Status":false})");
  EXPECT_FALSE(std::filesystem::exists(refused));
  ExpectServing();
}

TEST_F(FaultsTest, LockedSqliteFileAnswersWithinTheBusyTimeout) {
  const std::string db = source_->Database();
  // Another writer holds an exclusive lock for a few seconds.
  ChildSpec writer_spec;
  writer_spec.argv = {"/bin/sh", "-c",
                      "(echo 'BEGIN EXCLUSIVE; INSERT INTO scratch VALUES (1, NULL);'; sleep 20;"
                      " echo 'ROLLBACK;') | sqlite3 '" + db + "'"};
  writer_spec.inherit_env = true;
  writer_spec.own_group = true;  // so the test can end all of it
  auto writer = std::make_unique<ChildProcess>(writer_spec);
  // sqlite3 without a busy time-out fails at once on a locked file.
  auto locked = [&] {
    ChildSpec probe;
    probe.argv = {"/bin/sh", "-c", "sqlite3 '" + db + "' 'SELECT count(*) FROM pairs' 2>&1 | grep -q locked"};
    probe.inherit_env = true;
    ChildProcess p(probe);
    const int status = p.Wait(std::chrono::seconds(10));
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  };
  ASSERT_TRUE(WaitUntil(locked, std::chrono::seconds(10), std::chrono::milliseconds(50)));
  const auto start = Clock::now();
  const std::string reply = Query(source_->Dsn(), "SELECT x, y FROM pairs ORDER BY x");
  const double took = Seconds(start);
  EXPECT_TRUE(IsErrorText(reply)) << reply;
  EXPECT_NE(reply.find("locked"), std::string::npos) << reply;
  EXPECT_GT(took, 1.0) << "the busy time-out waits";
  // The driver may wait out the busy time-out more than once per statement.
  EXPECT_LT(took, 8.0) << "an error within seconds, not minutes";
  // The writer goes away; its lock goes with it.
  writer->Stop(SIGTERM, std::chrono::seconds(10));
  writer.reset();  // its whole group
  EXPECT_TRUE(WaitUntil([&] { return !locked(); }, std::chrono::seconds(10), std::chrono::milliseconds(50)));
  ExpectServing();
}

// PostgreSQL cases run on a server of their own, which they stop and start.
class PgFaultsTest : public FaultsTest {
 protected:
  static void SetUpTestSuite() {
    FaultsTest::SetUpTestSuite();
    pg_dir_ = TempDir() + "/faults-pg";
    const std::string cmd = std::string(VQ_TEST_SUPPORT_DIR) + "/pg_server.sh start " + pg_dir_ + " >" + pg_dir_ +
                            ".log 2>&1";
    if (std::system(cmd.c_str()) != 0 || !std::filesystem::exists(pg_dir_ + "/pgtest.ini")) return;
    std::ifstream ini(pg_dir_ + "/pgtest.ini");
    std::stringstream body;
    std::string line;
    while (std::getline(ini, line)) {
      if (line.rfind("Port=", 0) == 0) port_ = line.substr(5);
      if (!line.empty() && line[0] != '[') body << line << '\n';
    }
    std::ifstream state(pg_dir_ + "/pgstate");
    std::getline(state, data_);
    AddDsn("vq_pg_fault", body.str());
    available_ = !port_.empty() && !data_.empty();
  }
  static void TearDownTestSuite() {
    if (!pg_dir_.empty())
      std::system((std::string(VQ_TEST_SUPPORT_DIR) + "/pg_server.sh stop " + pg_dir_ + " >/dev/null 2>&1").c_str());
    FaultsTest::TearDownTestSuite();
  }
  void SetUp() override {
    if (available_) return;
    if (RequirePg()) FAIL() << "PostgreSQL could not be started; see " << pg_dir_ << ".log";
    GTEST_SKIP() << "PostgreSQL could not be started; see " << pg_dir_ << ".log";
  }

  static bool PgCtl(const std::string& args) {
    const std::string as = getuid() == 0 ? "runuser -u postgres -- " : "";
    const std::string cmd = as + "/usr/lib/postgresql/15/bin/pg_ctl -D " + data_ + "/db -w -t 30 " + args +
                            " >>" + pg_dir_ + ".log 2>&1";
    return std::system(cmd.c_str()) == 0;
  }
  static bool StopPg() { return PgCtl("-m fast stop"); }
  static bool StartPg() {
    return PgCtl("-l " + data_ + "/server.log -o \"-p " + port_ + " -k " + data_ +
                 " -c listen_addresses=127.0.0.1 -c fsync=off\" start");
  }

  static inline std::string pg_dir_;
  static inline std::string port_;
  static inline std::string data_;
  static inline bool available_ = false;
};

TEST_F(PgFaultsTest, ServerStoppedDuringLoadAndStartedAgain) {
  ASSERT_EQ(Query("vq_pg_fault", "SELECT 40 + 2"), "42");
  // A client keeps asking while the server goes away and comes back; every
  // reply is either the answer or an error text.
  std::atomic<bool> stop{false};
  std::atomic<int> answers{0};
  std::atomic<int> errors{0};
  std::atomic<int> other{0};
  std::string odd;
  std::thread load([&] {
    while (!stop) {
      const std::string reply = Query("vq_pg_fault", "SELECT 40 + 2");
      if (reply == "42") {
        ++answers;
      } else if (IsErrorText(reply)) {
        ++errors;
      } else if (other++ == 0) {
        odd = reply;
      }
    }
  });
  // Served before the stop, and failing while the server is down.
  EXPECT_TRUE(WaitUntil([&] { return answers > 0; }, std::chrono::seconds(10)));
  ASSERT_TRUE(StopPg());
  EXPECT_TRUE(WaitUntil([&] { return errors > 0; }, std::chrono::seconds(10)));
  // While it is down: an error, quickly, and other sources still serve.
  auto start = Clock::now();
  const std::string down = Query("vq_pg_fault", "SELECT 1");
  EXPECT_TRUE(IsErrorText(down)) << down;
  EXPECT_LT(Seconds(start), 10.0);
  EXPECT_EQ(OpenBody("vq_pg_fault"), R"({"Status":false})");
  ExpectServing();
  const int answers_before = answers;
  ASSERT_TRUE(StartPg());
  EXPECT_TRUE(WaitUntil([&] { return answers > answers_before; }, std::chrono::seconds(10)));
  stop = true;
  load.join();
  EXPECT_GT(answers.load(), 0);
  EXPECT_GT(errors.load(), 0);
  EXPECT_EQ(other.load(), 0) << odd;
  // Recovered: pooled connections of the old server are gone.
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Query("vq_pg_fault", "SELECT 40 + 2"), "42") << i;
  EXPECT_EQ(OpenBody("vq_pg_fault"), R"({"Status":true})");
}

TEST_F(PgFaultsTest, StatementPastTheTimeLimitAnswersTheError) {
  const auto start = Clock::now();
  const std::string reply = Query("vq_pg_fault", "SELECT pg_sleep(5)");
  const double took = Seconds(start);
  EXPECT_TRUE(IsErrorText(reply)) << reply;
  EXPECT_NE(reply.find("cancel"), std::string::npos) << reply;
  EXPECT_GT(took, 1.5);
  EXPECT_LT(took, 4.5) << "cut at the two-second limit";
  EXPECT_EQ(Query("vq_pg_fault", "SELECT 40 + 2"), "42");
  ExpectServing();
}

}  // namespace
}  // namespace vqtest
