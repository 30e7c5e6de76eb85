// The progress line: drawn only on a terminal, erased before the answer.
// Database nulls in a table: dimmed on a terminal unless NO_COLOR is set.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <string>
#include <thread>

#include "tests/support/child_process.h"

namespace {

using tcp = boost::asio::ip::tcp;

// Everything a child writes to its terminal, and its exit status.
std::pair<std::string, int> RunOnTerminal(std::vector<std::string> args) {
  vqtest::ChildSpec spec;
  spec.argv = {VQCALL_PATH};
  spec.argv.insert(spec.argv.end(), args.begin(), args.end());
  spec.inherit_env = true;
  spec.terminal = true;
  vqtest::ChildProcess child(spec);
  const std::string out = child.ReadTerminal();
  const int status = child.Wait(std::chrono::seconds(30));
  return {out, status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(VqcallProgress, ShownOnATerminalWhileWaitingThenErased) {
  // A server that takes 1.4 s to answer "extr" with "x".
  boost::asio::io_context io;
  tcp::acceptor acceptor(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
  const auto port = acceptor.local_endpoint().port();
  tcp::socket peer(io);
  acceptor.async_accept(peer, [&](boost::system::error_code ec) {
    if (ec) return;
    boost::asio::streambuf request;
    boost::asio::read_until(peer, request, "\r\n\r\n", ec);
    // The test input: an answer that takes longer than a second, so the
    // progress line must show up before it.
    std::this_thread::sleep_for(std::chrono::milliseconds(1400));
    const std::string answer =
        "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 3\r\n"
        "Connection: close\r\n\r\n\"x\"";
    boost::asio::write(peer, boost::asio::buffer(answer), ec);
  });
  // Serves until stopped, so a client that never comes cannot hang the test.
  std::thread slow([&] { io.run(); });
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/ZIDozeve";
  const auto [screen, code] = RunOnTerminal({"--url", url, "extr", "x", "0"});
  io.stop();
  slow.join();
  EXPECT_EQ(code, 0) << screen;
  const size_t shown = screen.find("waiting for the server... 1 s");
  ASSERT_NE(shown, std::string::npos) << screen;
  const size_t erased = screen.find("\r\033[K", shown);
  ASSERT_NE(erased, std::string::npos) << screen;
  EXPECT_EQ(screen.substr(erased + 4), "x\r\n");
}

// A server that answers one request with body, at once.
class OneAnswer {
 public:
  explicit OneAnswer(const std::string& body)
      : acceptor_(io_, {boost::asio::ip::make_address("127.0.0.1"), 0}), peer_(io_) {
    acceptor_.async_accept(peer_, [this, body](boost::system::error_code ec) {
      if (ec) return;
      boost::asio::streambuf request;
      boost::asio::read_until(peer_, request, "\r\n\r\n", ec);
      const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                                 std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
      boost::asio::write(peer_, boost::asio::buffer(answer), ec);
    });
    thread_ = std::thread([this] { io_.run(); });
  }
  ~OneAnswer() {
    io_.stop();
    thread_.join();
  }
  std::string Url() const {
    return "http://127.0.0.1:" + std::to_string(acceptor_.local_endpoint().port()) + "/ZIDozeve";
  }

 private:
  boost::asio::io_context io_;
  tcp::acceptor acceptor_;
  tcp::socket peer_;
  std::thread thread_;
};

TEST(VqcallNulls, DimmedOnATerminalUnlessNoColor) {
  const std::string reply = R"({"Results":[{"a":null,"b":"NULL"}],"Status":true})";
  {
    OneAnswer server(reply);
    unsetenv("NO_COLOR");
    const auto [screen, code] = RunOnTerminal({"--url", server.Url(), "querydbg", "d", "s"});
    EXPECT_EQ(code, 0) << screen;
    EXPECT_NE(screen.find("\x1b[2mNULL\x1b[22m | NULL\r\n"), std::string::npos) << screen;
  }
  {
    OneAnswer server(reply);
    setenv("NO_COLOR", "1", 1);
    const auto [screen, code] = RunOnTerminal({"--url", server.Url(), "--null", "(null)", "querydbg", "d", "s"});
    unsetenv("NO_COLOR");
    EXPECT_EQ(code, 0) << screen;
    EXPECT_NE(screen.find("(null) | NULL\r\n"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("\x1b[2m"), std::string::npos) << screen;
  }
}

}  // namespace
