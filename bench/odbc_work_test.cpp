// The reference program's request work against a throwaway SQLite source:
// what it reads must be what vqsrv's "query" P3=-1 replies, or the
// comparison measures different work.
#include "bench/odbc_work.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>

#include "bench/odbc_http.h"

// Full stacks for the leak checker: with fast unwinding the driver's
// one-time allocations end in frames it cannot name, so the suite's
// suppressions of the drivers would not match them.
extern "C" const char* __lsan_default_options() { return "fast_unwind_on_malloc=0"; }

namespace {

class OdbcWorkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char dir_template[] = "/tmp/odbc_work_testXXXXXX";
    dir_ = mkdtemp(dir_template);
    const std::string db = dir_ + "/t.db";
    const std::string sql =
        "sqlite3 " + db +
        " \"CREATE TABLE t(id INTEGER, name TEXT, price REAL, note TEXT);"
        " INSERT INTO t VALUES (1, 'alpha', 1.5, NULL), (2, '', 2.25, 'x');"
        " CREATE TABLE w(v TEXT); INSERT INTO w VALUES (replace(hex(zeroblob(5000)), '0', 'z'));\"";
    ASSERT_EQ(std::system(sql.c_str()), 0);
    std::ofstream(dir_ + "/odbc.ini") << "[worktest]\nDriver=SQLite3\nDatabase=" << db << "\n";
    // Our own driver list: DontDLClose keeps the driver loaded, so the leak
    // checker can name (and the suite's suppressions match) its one-time
    // allocations.
    std::ofstream(dir_ + "/odbcinst.ini")
        << "[SQLite3]\nDriver=libsqlite3odbc.so\nDontDLClose=1\n";
    setenv("ODBCINI", (dir_ + "/odbc.ini").c_str(), 1);
    setenv("ODBCSYSINI", dir_.c_str(), 1);
  }
  static void TearDownTestSuite() {
    std::system(("rm -rf " + dir_).c_str());
  }
  static std::string dir_;
};
std::string OdbcWorkTest::dir_;

TEST_F(OdbcWorkTest, ReadsEveryCellAsTextJoinedByBars) {
  bench::Environment env;
  bench::Connection c;
  ASSERT_TRUE(c.Open(env.Handle(), "worktest"));

  std::string out;
  ASSERT_TRUE(bench::RunStatement(c.Handle(), "SELECT id, name, price, note FROM t ORDER BY id",
                                  false, out));
  // A null and an empty text both add nothing between their bars.
  EXPECT_EQ(out, "1|alpha|1.5||2||2.25|x");

  out.clear();
  ASSERT_TRUE(bench::RunStatement(c.Handle(), "SELECT id, note FROM t WHERE id = 2", true, out));
  EXPECT_EQ(out, "id=note=2|x");

  // A text longer than one read buffer arrives whole.
  out.clear();
  ASSERT_TRUE(bench::RunStatement(c.Handle(), "SELECT v FROM w", false, out));
  EXPECT_EQ(out, std::string(10000, 'z'));

  // The same connection serves again after a failing statement.
  out.clear();
  EXPECT_FALSE(bench::RunStatement(c.Handle(), "SELECT nothing FROM nowhere", false, out));
  ASSERT_TRUE(bench::RunStatement(c.Handle(), "SELECT count(*) FROM t", false, out));
  EXPECT_EQ(out, "2");
}

TEST_F(OdbcWorkTest, UnknownSourceFailsToConnect) {
  bench::Environment env;
  bench::Connection c;
  EXPECT_FALSE(c.Open(env.Handle(), "no_such_source_here"));
  EXPECT_TRUE(c.Handle() == SQL_NULL_HDBC);
}

namespace http = boost::beast::http;
using boost::asio::ip::tcp;

// Sends one request on an open connection and returns the status and body.
std::pair<unsigned, std::string> Send(boost::beast::tcp_stream& stream, http::verb verb,
                                      const std::string& body, bool keep_alive = true) {
  http::request<http::string_body> req{verb, "/ZIDozeve", 11};
  req.set(http::field::host, "127.0.0.1");
  req.set(http::field::content_type, "application/json");
  req.keep_alive(keep_alive);
  req.body() = body;
  req.prepare_payload();
  http::write(stream, req);
  boost::beast::flat_buffer buffer;
  http::response<http::string_body> res;
  http::read(stream, buffer, res);
  return {res.result_int(), res.body()};
}

TEST_F(OdbcWorkTest, ServedModeAnswersWithTheRowsOfTheSource) {
  bench::Environment env;
  bench::ServeOptions options;
  options.dsn = "worktest";
  options.sql = "SELECT id, name FROM t ORDER BY id";
  options.threads = 2;
  bench::HttpReference server(env.Handle(), options);
  server.Start();
  ASSERT_NE(server.Port(), 0);

  boost::asio::io_context io;
  boost::beast::tcp_stream stream(io);
  stream.connect(tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), server.Port()));

  // "P2" names the statement; the cells come back escaped inside the JSON.
  auto [status, body] = Send(stream, http::verb::post,
                             R"({"M":"query","P1":"worktest","P2":"SELECT id, price, note FROM t ORDER BY id","P3":1})");
  EXPECT_EQ(status, 200u);
  EXPECT_EQ(body, R"({"Status":true,"Results":"1|1.5||2|2.25|x"})");

  // Without "P2" the configured statement runs, on the same kept-alive
  // connection.
  std::tie(status, body) = Send(stream, http::verb::post, "{}");
  EXPECT_EQ(status, 200u);
  EXPECT_EQ(body, R"({"Status":true,"Results":"1|alpha|2|"})");

  // Bad requests get a clear error and the connection still serves.
  std::tie(status, body) = Send(stream, http::verb::post, "{not json");
  EXPECT_EQ(status, 400u);
  EXPECT_NE(body.find(R"("Status":false)"), std::string::npos);
  std::tie(status, body) = Send(stream, http::verb::post, R"({"P2":5})");
  EXPECT_EQ(status, 400u);
  std::tie(status, body) = Send(stream, http::verb::get, "");
  EXPECT_EQ(status, 405u);

  // A failing statement is a failure, not an empty success, and the kept
  // ODBC connection serves the next request.
  std::tie(status, body) = Send(stream, http::verb::post, R"({"P2":"SELECT nothing FROM nowhere"})");
  EXPECT_EQ(status, 500u);
  EXPECT_EQ(body.find("Results"), std::string::npos);
  std::tie(status, body) = Send(stream, http::verb::post, R"({"P2":"SELECT count(*) FROM t"})",
                                /*keep_alive=*/false);
  EXPECT_EQ(status, 200u);
  EXPECT_EQ(body, R"({"Status":true,"Results":"2"})");
  // The server closes the connection when asked to.
  char byte;
  boost::system::error_code ec;
  stream.socket().read_some(boost::asio::buffer(&byte, 1), ec);
  EXPECT_EQ(ec, boost::asio::error::eof);
}

TEST_F(OdbcWorkTest, ServedModeReadsNamesAndConnectsAfreshWhenAsked) {
  bench::Environment env;
  bench::ServeOptions options;
  options.dsn = "worktest";
  options.sql = "SELECT id, note FROM t WHERE id = 2";
  options.names = true;
  options.reuse = false;
  bench::HttpReference server(env.Handle(), options);
  server.Start();

  boost::asio::io_context io;
  boost::beast::tcp_stream stream(io);
  stream.connect(tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), server.Port()));
  for (int i = 0; i < 2; ++i) {
    const auto [status, body] = Send(stream, http::verb::post, R"({"M":"querydbg"})");
    EXPECT_EQ(status, 200u);
    EXPECT_EQ(body, R"({"Status":true,"Results":"id=note=2|x"})");
  }

  // An unknown source is reported, not answered with empty results.
  bench::ServeOptions missing = options;
  missing.dsn = "no_such_source_here";
  missing.reuse = true;
  bench::HttpReference broken(env.Handle(), missing);
  broken.Start();
  boost::beast::tcp_stream other(io);
  other.connect(tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), broken.Port()));
  EXPECT_EQ(Send(other, http::verb::post, "{}").first, 503u);
}

}  // namespace
