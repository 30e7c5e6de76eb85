#include "tests/support/child_process.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace vqtest {
namespace {

// Only async-signal-safe calls between fork and exec.
void Redirect(const char* path, int fd, int flags) {
  if (!path) return;
  const int opened = open(path, flags, 0644);
  if (opened < 0) _exit(125);
  if (opened != fd) {
    dup2(opened, fd);
    close(opened);
  }
}

}  // namespace

std::map<std::string, std::string> PickEnv(const std::vector<std::string>& names) {
  std::map<std::string, std::string> picked;
  for (const auto& name : names)
    if (const char* value = std::getenv(name.c_str())) picked[name] = value;
  return picked;
}

ChildProcess::ChildProcess(const ChildSpec& spec) : own_group_(spec.own_group) {
  // Everything exec needs is built before the fork.
  std::vector<std::string> env_text;
  if (spec.inherit_env) {
    std::map<std::string, std::string> merged;
    for (char** e = environ; *e; ++e) {
      const std::string kv = *e;
      const auto eq = kv.find('=');
      if (eq != std::string::npos) merged[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    for (const auto& [k, v] : spec.env) merged[k] = v;
    for (const auto& [k, v] : merged) env_text.push_back(k + "=" + v);
  } else {
    for (const auto& [k, v] : spec.env) env_text.push_back(k + "=" + v);
  }
  std::vector<char*> envp;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> words = spec.argv;
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  if (!spec.function && words.empty()) throw std::invalid_argument("nothing to run");
  const char* out = spec.out_path.empty() ? nullptr : spec.out_path.c_str();
  const char* err = spec.err_path.empty() ? nullptr : spec.err_path.c_str();
  const bool same_file = out && err && spec.out_path == spec.err_path;

  pid_ = spec.terminal ? forkpty(&terminal_fd_, nullptr, nullptr, nullptr) : fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    // A terminal's child leads a session of its own already.
    if (spec.own_group && !spec.terminal) setpgid(0, 0);
    if (!spec.work_dir.empty() && chdir(spec.work_dir.c_str()) != 0) _exit(126);
    if (!spec.terminal) {
      Redirect("/dev/null", STDIN_FILENO, O_RDONLY);
      Redirect(out, STDOUT_FILENO, O_WRONLY | O_CREAT | O_TRUNC);
      if (same_file) {
        dup2(STDOUT_FILENO, STDERR_FILENO);
      } else {
        Redirect(err, STDERR_FILENO, O_WRONLY | O_CREAT | O_TRUNC);
      }
    }
    if (spec.function) _exit(spec.function());
    execve(words[0].c_str(), argv.data(), envp.data());
    _exit(127);
  }
  // The parent sets the group too, so a Signal right after the start reaches it.
  if (spec.own_group && !spec.terminal) setpgid(pid_, pid_);
}

std::string ChildProcess::ReadTerminal() {
  std::string screen;
  if (terminal_fd_ < 0) return screen;
  char buf[512];
  for (;;) {
    const ssize_t n = read(terminal_fd_, buf, sizeof buf);
    if (n <= 0) break;  // EIO once the child has gone
    screen.append(buf, static_cast<size_t>(n));
  }
  close(terminal_fd_);
  terminal_fd_ = -1;
  return screen;
}

ChildProcess::~ChildProcess() {
  if (terminal_fd_ >= 0) close(terminal_fd_);
  if (pid_ <= 0) return;
  if (own_group_) kill(-pid_, SIGKILL);  // what it started goes too
  if (!ended_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool ChildProcess::Running() {
  if (ended_) return false;
  if (waitpid(pid_, &status_, WNOHANG) == pid_) ended_ = true;
  return !ended_;
}

void ChildProcess::Signal(int signo) {
  if (own_group_) {
    kill(-pid_, signo);
  } else if (!ended_) {
    kill(pid_, signo);
  }
}

int ChildProcess::Wait(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (Running()) {
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return status_;
}

int ChildProcess::Stop(int signo, std::chrono::milliseconds limit) {
  Signal(signo);
  const int status = Wait(limit);
  if (status == -1) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
    ended_ = true;
  }
  return status;
}

}  // namespace vqtest
