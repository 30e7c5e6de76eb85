// Starts the real vqsrv executable on a free loopback port for a test.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/middleware/http_client.h"

extern char** environ;

namespace vq_test {

// A loopback port that was free a moment ago.
inline unsigned short FreePort() {
  boost::asio::io_context io;
  boost::asio::ip::tcp::acceptor a(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
  return a.local_endpoint().port();
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class VqsrvProcess {
 public:
  // vars are added to the environment; ZRM_LISTEN gets the port.
  VqsrvProcess(unsigned short port, std::map<std::string, std::string> vars = {})
      : port_(port), out_path_("/tmp/vqsrv_out_" + std::to_string(getpid()) + "_" +
                               std::to_string(port)) {
    vars["ZRM_LISTEN"] = Address();
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string kv = *e;
      if (kv.rfind("ZRM_", 0) != 0) env.push_back(kv);
    }
    for (const auto& [k, v] : vars) env.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, out_path_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char* argv[] = {const_cast<char*>(VQSRV_PATH), nullptr};
    if (posix_spawn(&pid_, VQSRV_PATH, &fa, nullptr, argv, envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
  }

  ~VqsrvProcess() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    unlink(out_path_.c_str());
  }

  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  bool Started() const { return pid_ > 0; }

  // True once /healthz answers (or false after a few seconds).
  bool WaitReady() {
    for (int i = 0; i < 200; ++i) {
      try {
        zrm_test::HttpClient c(Address());
        if (c.Send(boost::beast::http::verb::get, "/healthz", "").status == 200) return true;
      } catch (const std::exception&) {
      }
      if (Exited()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
  }

  void Signal(int signo) { kill(pid_, signo); }

  // Waits up to limit for the process to end; the wait status, or -1.
  int Wait(std::chrono::milliseconds limit = std::chrono::seconds(15)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!Exited()) {
      if (std::chrono::steady_clock::now() > until) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_;
  }

  std::string Output() const { return ReadFile(out_path_); }

 private:
  bool Exited() {
    if (exited_) return true;
    if (waitpid(pid_, &status_, WNOHANG) == pid_) exited_ = true;
    return exited_;
  }

  unsigned short port_;
  std::string out_path_;
  pid_t pid_ = -1;
  int status_ = 0;
  bool exited_ = false;
};

}  // namespace vq_test
