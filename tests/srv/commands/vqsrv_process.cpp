#include "tests/srv/commands/vqsrv_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace vqtest {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;
using tcp = boost::asio::ip::tcp;

// A port nobody listens on right now (the kernel's choice for port 0).
int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(fd);
    throw std::runtime_error("no free port");
  }
  close(fd);
  return ntohs(addr.sin_port);
}

HttpReply Request(int port, http::verb verb, const std::string& target,
                  const std::string& body) {
  boost::asio::io_context io;
  tcp::socket socket(io);
  socket.connect(tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"),
                               static_cast<unsigned short>(port)));
  http::request<http::string_body> req{verb, target, 11};
  req.set(http::field::host, "127.0.0.1");
  if (verb == http::verb::post) {
    req.set(http::field::content_type, "application/json");
    req.body() = body;
    req.prepare_payload();
  }
  http::write(socket, req);
  beast::flat_buffer buffer;
  http::response_parser<http::string_body> parser;
  parser.body_limit(64 * 1024 * 1024);
  http::read(socket, buffer, parser);
  const auto& res = parser.get();
  beast::error_code ec;
  socket.shutdown(tcp::socket::shutdown_both, ec);
  return HttpReply{static_cast<int>(res.result_int()), res.body()};
}

// Cuts "<time> L<level> #<request> " off a trace record.
bool ParseRecord(const std::string& record, TraceLine& out) {
  const size_t a = record.find(' ');
  if (a == std::string::npos || a + 2 >= record.size() || record[a + 1] != 'L') return false;
  const size_t b = record.find(' ', a + 1);
  if (b == std::string::npos) return false;
  const size_t c = record.find(' ', b + 1);
  if (c == std::string::npos || record[b + 1] != '#') return false;
  out.level = std::atoi(record.substr(a + 2, b - a - 2).c_str());
  out.text = record.substr(c + 1);
  return true;
}

}  // namespace

VqsrvProcess::VqsrvProcess(const std::string& odbc_ini, int debug_level,
                           const std::vector<std::string>& extra_env) {
  char dir_template[] = "/tmp/vqsrv-cmd-XXXXXX";
  if (!mkdtemp(dir_template)) throw std::runtime_error("mkdtemp failed");
  dir_ = dir_template;
  trace_ = dir_ + "/trace.log";

  // Another process may take the port between the look-up and the bind:
  // try a few ports before giving up.
  for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
    port_ = FreePort();
    const std::string listen = "ZRM_LISTEN=127.0.0.1:" + std::to_string(port_);
    const std::string ini = "ODBCINI=" + odbc_ini;
    const std::string level = "ZRM_DEBUG=" + std::to_string(debug_level);
    const std::string trace = "ZRM_TRACE=" + trace_;
    // The driver list the test process uses (drivers kept loaded), else the system's.
    const char* sysini = std::getenv("ODBCSYSINI");
    const std::string drivers = std::string("ODBCSYSINI=") + (sysini ? sysini : "/etc");
    std::vector<std::string> env_text = {listen, ini, level, trace, drivers,
                                         "ZRM_THREADS=1", "LC_ALL=C"};
    for (const char* name : {"PATH", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS",
                             "VQ_ADO_POOL", "VQ_ADO_POOL_MAX", "VQ_ADO_POOL_IDLE_MS", "VQ_ADO_COMMAND_TIMEOUT",
                             "VQ_ADO_BLOCK_FETCH"}) {
      if (const char* value = std::getenv(name)) env_text.push_back(std::string(name) + "=" + value);
    }
    for (const std::string& entry : extra_env) {  // replaces an inherited value of that name
      const std::string name = entry.substr(0, entry.find('=') + 1);
      std::erase_if(env_text, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
      env_text.push_back(entry);
    }
    std::vector<char*> env;
    for (auto& e : env_text) env.push_back(e.data());
    env.push_back(nullptr);
    std::string exe = VQSRV_EXE;
    char* argv[] = {exe.data(), nullptr};

    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
      // Files a driver makes relative to the working folder land in the
      // temporary folder, not in the build tree.
      if (chdir(dir_.c_str()) != 0) _exit(126);
      execve(exe.c_str(), argv, env.data());
      _exit(127);
    }
    // Wait until the loop serves, or the child is gone.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    bool up = false;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) break;
      try {
        if (Request(port_, http::verb::get, "/healthz", "").status == 200) {
          up = true;
          break;
        }
      } catch (const std::exception&) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (up) {
      pid_ = pid;
    } else {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  if (pid_ < 0) throw std::runtime_error("vqsrv did not start; trace in " + trace_);
}

VqsrvProcess::~VqsrvProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

int VqsrvProcess::Terminate(int limit_ms) {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      status = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = -1;
  return status;
}

HttpReply VqsrvProcess::Post(const std::string& json_body) const {
  return Request(port_, http::verb::post, "/ZIDozeve", json_body);
}

HttpReply VqsrvProcess::Get(const std::string& path) const {
  return Request(port_, http::verb::get, path, "");
}

rapidjson::Document VqsrvProcess::Call(const std::string& json_body) const {
  const HttpReply reply = Post(json_body);
  EXPECT_EQ(reply.status, 200) << json_body << " -> " << reply.body;
  rapidjson::Document doc;
  doc.Parse(reply.body.c_str(), reply.body.size());
  EXPECT_FALSE(doc.HasParseError()) << reply.body;
  return doc;
}

std::vector<TraceLine> VqsrvProcess::LastRequestTrace() const {
  std::ifstream in(trace_);
  std::vector<TraceLine> lines;
  std::string record;
  TraceLine line;
  while (std::getline(in, record)) {
    if (!ParseRecord(record, line)) {
      // A record whose text held a line feed goes on here.
      if (!lines.empty()) lines.back().text += "\n" + record;
      continue;
    }
    if (line.text.rfind("Process ", 0) == 0) lines.clear();
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> VqsrvProcess::LastRequestTexts() const {
  std::vector<std::string> texts;
  for (const auto& line : LastRequestTrace()) texts.push_back(line.text);
  return texts;
}

long VqsrvProcess::PeakMemoryKb() const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string QueryRequest(const std::string& dsn, const std::string& sql, int p3) {
  return "{\"M\":\"query\",\"P1\":" + JsonString(dsn) + ",\"P2\":" + JsonString(sql) +
         ",\"P3\":" + std::to_string(p3) + "}";
}

std::string QueryDbgRequest(const std::string& dsn, const std::string& sql) {
  return "{\"M\":\"querydbg\",\"P1\":" + JsonString(dsn) + ",\"P2\":" + JsonString(sql) + "}";
}

std::string OpenRequest(const std::string& dsn) {
  return "{\"M\":\"open\",\"P1\":" + JsonString(dsn) + "}";
}

}  // namespace vqtest
