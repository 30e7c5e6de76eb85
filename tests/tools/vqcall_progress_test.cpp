// The progress line: drawn only on a terminal, erased before the answer.
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <string>
#include <thread>


namespace {

using tcp = boost::asio::ip::tcp;

// Everything a child writes to its terminal, and its exit status.
std::pair<std::string, int> RunOnTerminal(std::vector<std::string> args) {
  std::string exe = VQCALL_PATH;
  std::vector<char*> argv = {exe.data()};
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int fd = -1;
  const pid_t pid = forkpty(&fd, nullptr, nullptr, nullptr);
  if (pid == 0) {
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  std::string out;
  if (pid < 0) return {out, -1};
  char buf[512];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;  // EIO once the child has gone
    out.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  int status = 0;
  waitpid(pid, &status, 0);
  return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
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

}  // namespace
