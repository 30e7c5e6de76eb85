// The vqcall executable against a real vqsrv process and a SQLite source.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <memory>
#include <string>

#include "tests/support/free_port.h"
#include "tests/support/odbc_env.h"
#include "tests/support/vqsrv_process.h"
#include "tests/support/wait_until.h"
#include "tests/tools/vqcall_run.h"

namespace {

using vqtest::RunVqcall;
using vqtest::VqcallResult;

const char kData[] =
    "CREATE TABLE items(id INTEGER, name TEXT, note TEXT);"
    "INSERT INTO items VALUES (1, 'apple', 'red'), (2, 'crème', NULL), (3, 'dates', '');";

// True once the server answers HTTP at all: with a token set, even the
// health check is refused with 401, which still shows that it serves.
bool Answers(const vqtest::VqsrvProcess& server) {
  return vqtest::WaitUntil(
      [&] {
        try {
          return vqtest::Request(server.Address(), boost::beast::http::verb::get, "/healthz").status != 0;
        } catch (const std::exception&) {
          return false;
        }
      },
      std::chrono::seconds(5), std::chrono::milliseconds(25));
}

// Starts vqsrv with the test odbc.ini; a port taken meanwhile gets another try.
std::unique_ptr<vqtest::VqsrvProcess> StartServer(std::map<std::string, std::string> vars = {}) {
  vars["ODBCINI"] = vqtest::OdbcIniPath();
  vars["ODBCSYSINI"] = "/etc";
  for (int attempt = 0; attempt < 3; ++attempt) {
    auto server = std::make_unique<vqtest::VqsrvProcess>(vqtest::CallerEnv(vars));
    if (server->Started() && Answers(*server)) return server;
  }
  return nullptr;
}

std::string UrlOf(const vqtest::VqsrvProcess& server) {
  return "http://" + server.Address() + "/ZIDozeve";
}

class VqcallE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dsn_ = vqtest::AddSqliteDsn("vqcall_items", kData);
    server_ = StartServer();
  }
  static void TearDownTestSuite() { server_.reset(); }
  void SetUp() override { ASSERT_TRUE(server_) << "vqsrv did not start"; }

  // vqcall with --url pointing at the suite's server.
  static VqcallResult Call(std::vector<std::string> args) {
    args.insert(args.begin(), {"--url", UrlOf(*server_)});
    return RunVqcall(args);
  }

  static inline std::string dsn_;
  static inline std::unique_ptr<vqtest::VqsrvProcess> server_;
};

TEST_F(VqcallE2E, EachCommand) {
  VqcallResult r = Call({"open", dsn_});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "ok\n");
  r = Call({"open", "vqcall_no_such_dsn"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "failed\n");

  r = Call({"query", dsn_, "SELECT id, name FROM items ORDER BY id", "2"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "2|crème\n");
  // RECORD defaults to -1: every record.
  r = Call({"query", dsn_, "SELECT name FROM items ORDER BY id"});
  EXPECT_EQ(r.out, "apple|crème|dates\n");
  EXPECT_EQ(Call({"query", dsn_, "SELECT name FROM items ORDER BY id", "-1"}).out, r.out);

  r = Call({"extr", "abcdef", "2", "3"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "cde\n");
  EXPECT_EQ(Call({"extr", "abcdef", "2"}).out, "cdef\n");
  EXPECT_EQ(Call({"elem", "a,b,c", ",", "1"}).out, "b\n");
  EXPECT_EQ(Call({"elem", "a,,c", ",", "1"}).out, "\n");

  r = Call({"raw", R"({"M":"extr","P1":"abc","P2":1})"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "\"bc\"\n");
  EXPECT_EQ(Call({"raw", R"({"M":"nothing"})"}).out, "null\n");
}

TEST_F(VqcallE2E, QueryDbgTableAndJson) {
  VqcallResult r = Call({"querydbg", dsn_, "SELECT id, name, note FROM items ORDER BY id"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "id | name  | note\n"
            "---+-------+-----\n"
            "1  | apple | red\n"
            "2  | crème | NULL\n"
            "3  | dates |\n"
            "(3 rows)\n");
  EXPECT_EQ(Call({"querydbg", dsn_, "SELECT id FROM items WHERE id > 9"}).out, "(0 rows)\n");

  r = Call({"--json", "querydbg", dsn_, "SELECT name FROM items WHERE id = 2"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  rapidjson::Document doc;
  doc.Parse(r.out.c_str());
  ASSERT_FALSE(doc.HasParseError()) << r.out;
  EXPECT_TRUE(doc["Status"].GetBool());
  EXPECT_STREQ(doc["Results"][0]["name"].GetString(), "crème");
  EXPECT_EQ(Call({"query", dsn_, "SELECT name FROM items WHERE id = 1", "--json"}).out,
            "\"apple\"\n");
}

TEST_F(VqcallE2E, ErrorRepliesAndHttpErrors) {
  VqcallResult r = Call({"query", dsn_, "SELEC nothing"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("Error code = ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("syntax error"), std::string::npos) << r.err;

  r = Call({"querydbg", dsn_, "SELECT * FROM no_such_table"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("Error code = ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("no_such_table"), std::string::npos) << r.err;

  // A request without "P2": the service answers 400 naming the key.
  r = Call({"raw", R"({"M":"query","P1":"x"})"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("HTTP 400"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("P2"), std::string::npos) << r.err;

  r = RunVqcall({"--url", "http://" + server_->Address() + "/elsewhere", "open", dsn_});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("HTTP 404"), std::string::npos) << r.err;

  // The service's address alone reaches the service.
  r = RunVqcall({"--url", "http://" + server_->Address(), "extr", "abc", "1"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "bc\n");
}

TEST_F(VqcallE2E, EnvironmentAndUsage) {
  VqcallResult r = RunVqcall({"open", dsn_}, {{"VQ_URL", UrlOf(*server_)}});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "ok\n");

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{}, {"frobnicate"}, {"query", dsn_}, {"elem", "a", "::", "0"},
        {"query", dsn_, "SELECT 1", "2147483648"}, {"--timeout", "x", "open", dsn_},
        {"--url", "ftp://h/x", "open", dsn_}}) {
    r = Call(bad);
    EXPECT_EQ(r.exit_code, 64) << (bad.empty() ? "" : bad[0]);
    EXPECT_NE(r.err.find("usage: vqcall"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  r = RunVqcall({"--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("querydbg DSN SQL"), std::string::npos);
}

TEST(VqcallNoServer, UnreachableAndSilent) {
  // Nobody listens on a port just freed.
  const std::string url = "http://127.0.0.1:" + std::to_string(vqtest::FreePort()) + "/ZIDozeve";
  VqcallResult r = RunVqcall({"--url", url, "open", "demo"});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.err.find(url), std::string::npos) << r.err;

  // A listener that accepts but never answers: the time limit ends the wait.
  boost::asio::io_context io;
  boost::asio::ip::tcp::acceptor silent(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
  const std::string silent_url =
      "http://127.0.0.1:" + std::to_string(silent.local_endpoint().port()) + "/ZIDozeve";
  const auto start = std::chrono::steady_clock::now();
  r = RunVqcall({"--timeout", "1", "--url", silent_url, "open", "demo"});
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.err.find("no answer from " + silent_url + " within 1 s"), std::string::npos) << r.err;
  EXPECT_LT(took, std::chrono::seconds(5));
  // Standard error is a file here, so no progress line was drawn.
  EXPECT_EQ(r.err.find("waiting for the server"), std::string::npos) << r.err;
}

TEST(VqcallToken, ServerWithToken) {
  const std::string dsn = vqtest::AddSqliteDsn("vqcall_token", kData);
  auto server = StartServer({{"ZRM_TOKEN", "s3cret"}});
  ASSERT_TRUE(server) << "vqsrv did not start";
  const std::string url = UrlOf(*server);

  VqcallResult r = RunVqcall({"--url", url, "open", dsn});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("HTTP 401: missing or wrong bearer token"), std::string::npos) << r.err;
  EXPECT_EQ(RunVqcall({"--url", url, "--token", "wrong", "open", dsn}).exit_code, 2);

  r = RunVqcall({"--url", url, "--token", "s3cret", "open", dsn});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "ok\n");
  r = RunVqcall({"--url", url, "query", dsn, "SELECT name FROM items WHERE id = 3"},
                {{"VQ_TOKEN", "s3cret"}});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "dates\n");
}

}  // namespace
