// Data source names against the throwaway PostgreSQL server "pgtest":
// attributes a client adds after the name reach the driver only when
// VQ_DSN_ATTRIBUTES lists them, so a client can neither send the service to
// another host nor pick the driver; with UID and PWD listed it can log in
// as another role, and its password never reaches the trace.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/srv/commands/test_data.h"
#include "tests/support/vqsrv_process.h"
#include "tests/support/vqsrv_requests.h"
#include "tests/support/odbc_env.h"

namespace vqtest {
namespace {

// A loopback listener that counts the connections it receives and closes
// each at once.
class CountingListener {
 public:
  CountingListener() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd_, 16) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      throw std::runtime_error("no listener");
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] {
      while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        const int client = accept(fd_, nullptr, nullptr);
        if (client < 0) continue;
        ++count_;
        close(client);
      }
    });
  }
  ~CountingListener() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  int Port() const { return port_; }
  int Count() const { return count_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> count_{0};
  std::thread thread_;
};

const std::string kRefused = "Error code = 80004005 (Unspecified error) [vqsrv] Data source name refused: ";

class DsnPgTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string ini = PgOdbcIni(why_not_);
    if (ini.empty()) return;
    // No pooled connection may stand in for a login under test.
    server_ = std::make_unique<VqsrvProcess>(
        ini, 3, std::vector<std::string>{"VQ_DSN_ATTRIBUTES=UID,PWD", "VQ_ADO_POOL=0"});
  }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    if (server_) return;
    if (RequirePg()) FAIL() << "PostgreSQL is required: " << why_not_;
    GTEST_SKIP() << "PostgreSQL not available: " << why_not_;
  }

  static std::string Query(const std::string& p1, const std::string& sql) {
    const auto doc = server_->Call(QueryRequest(p1, sql, -1));
    return doc.IsString() ? std::string(doc.GetString(), doc.GetStringLength()) : "<no string>";
  }
  static std::string Open(const std::string& p1) { return server_->Post(OpenRequest(p1)).body; }
  static rapidjson::Document QueryDbg(const std::string& p1, const std::string& sql) {
    return server_->Call(QueryDbgRequest(p1, sql));
  }
  static std::string Text(const rapidjson::Value& v) {
    return v.IsString() ? std::string(v.GetString(), v.GetStringLength()) : "<not a string>";
  }
  static std::string TraceFile() {
    std::ifstream in(server_->TracePath());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // P1 with the rule it breaks: each command answers it as a failed connect.
  static void ExpectRefused(const std::string& p1, const std::string& rule) {
    SCOPED_TRACE(p1);
    EXPECT_EQ(Open(p1), R"({"Status":false})");
    const std::string text = kRefused + rule + " (Source=ADODB.Recordset)";
    EXPECT_EQ(Query(p1, "SELECT 1"), text);
    const auto dbg = QueryDbg(p1, "SELECT 1");
    ASSERT_TRUE(dbg.IsObject() && dbg.HasMember("Errmsg"));
    EXPECT_EQ(Text(dbg["Errmsg"]), text);
  }

  static inline std::unique_ptr<VqsrvProcess> server_;
  static inline std::string why_not_;
};

TEST_F(DsnPgTest, AHostOrPortInP1NeverReachesTheNetwork) {
  CountingListener listener;
  const std::string port = std::to_string(listener.Port());
  ExpectRefused("pgtest;Servername=127.0.0.1;Port=" + port, "the attribute SERVERNAME is not in VQ_DSN_ATTRIBUTES");
  ExpectRefused("pgtest;UID=postgres;Port=" + port, "the attribute PORT is not in VQ_DSN_ATTRIBUTES");
  ExpectRefused("pgtest;DRIVER=PostgreSQL Unicode;Servername=127.0.0.1;Port=" + port,
                "the attribute DRIVER is never allowed");
  // A value may not carry a further attribute: U+013B and U+013D reach the
  // driver manager as ';' and '='.
  ExpectRefused("pgtest;PWD=x\xC4\xBBPort\xC4\xBD" + port,
                "the value of PWD holds '{', '}', a control character or a character beyond ASCII");
  ExpectRefused("pgtest;PWD={x;Port=" + port + "}",
                "the value of PWD holds '{', '}', a control character or a character beyond ASCII");
  EXPECT_EQ(Query("pgtest", "SELECT 40 + 2"), "42");
  EXPECT_EQ(listener.Count(), 0);

  // The listener does see a driver that is sent to it.
  AddDsn("vq_dsn_listener", "Driver=PostgreSQL Unicode\nServername=127.0.0.1\nPort=" + port +
                                "\nDatabase=vqtest\nUsername=postgres\n");
  EXPECT_EQ(Open("vq_dsn_listener"), R"({"Status":false})");
  EXPECT_GE(listener.Count(), 1);
}

TEST_F(DsnPgTest, UidAndPwdFromTheClientLogInAndThePasswordStaysOutOfTheTrace) {
  const std::string role = "vq_dsn_" + std::to_string(getpid());
  const std::string right = "Right-" + std::to_string(getpid()) + "-pw";
  const std::string wrong = "Wrong-" + std::to_string(getpid()) + "-pw";
  QueryDbg("pgtest", "DROP ROLE IF EXISTS " + role);
  ASSERT_TRUE(QueryDbg("pgtest", "CREATE ROLE " + role + " LOGIN PASSWORD '" + right + "'")["Status"].GetBool());

  // The server trusts every login; this role must give its password.
  const auto hba = QueryDbg("pgtest", "SHOW hba_file");
  ASSERT_TRUE(hba.IsObject() && hba.HasMember("Results") && hba["Results"].Size() == 1);
  const std::string hba_path = Text(hba["Results"][0]["hba_file"]);
  std::stringstream original;
  original << std::ifstream(hba_path).rdbuf();
  ASSERT_FALSE(original.str().empty()) << hba_path;
  std::ofstream(hba_path, std::ios::trunc) << "host all " << role << " 127.0.0.1/32 scram-sha-256\n"
                                           << original.str();
  QueryDbg("pgtest", "SELECT pg_reload_conf()");

  const std::string good = "pgtest;UID=" + role + ";PWD=" + right;
  const std::string bad = "pgtest;uid=" + role + ";pwd=" + wrong + ";";
  std::string failed;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  do {  // the server reloads its settings on its own time
    failed = Query(bad, "SELECT 1");
  } while (failed == "1" && std::chrono::steady_clock::now() < deadline);

  EXPECT_EQ(failed.rfind("Error code = 80004005 (Unspecified error) ", 0), 0u) << failed;
  EXPECT_NE(failed.find("password authentication failed"), std::string::npos) << failed;
  EXPECT_EQ(Open(bad), R"({"Status":false})");
  const auto bad_dbg = QueryDbg(bad, "SELECT 1");
  EXPECT_NE(Text(bad_dbg["Errmsg"]).find("password authentication failed"), std::string::npos);

  EXPECT_EQ(Open(good), R"({"Status":true})");
  EXPECT_EQ(Query(good, "SELECT current_user"), role);
  const auto dbg = QueryDbg(good, "SELECT current_user AS who");
  ASSERT_TRUE(dbg.IsObject() && dbg.HasMember("Results"));
  EXPECT_EQ(Text(dbg["Results"][0]["who"]), role);

  // Listing UID and PWD opens nothing else.
  ExpectRefused(good + ";DRIVER=PostgreSQL Unicode", "the attribute DRIVER is never allowed");
  ExpectRefused(good + ";Servername=127.0.0.1", "the attribute SERVERNAME is not in VQ_DSN_ATTRIBUTES");
  ExpectRefused(good + ";PWD=" + right, "the attribute PWD is given twice");

  std::ofstream(hba_path, std::ios::trunc) << original.str();
  QueryDbg("pgtest", "SELECT pg_reload_conf()");
  QueryDbg("pgtest", "DROP ROLE " + role);

  const std::string trace = TraceFile();
  EXPECT_NE(trace.find(" L3 "), std::string::npos) << "the trace runs at level 3";
  EXPECT_NE(trace.find(" open DSN=pgtest;UID=" + role + ";PWD=***"), std::string::npos);
  EXPECT_EQ(trace.find(right), std::string::npos);
  EXPECT_EQ(trace.find(wrong), std::string::npos);
}

}  // namespace
}  // namespace vqtest
