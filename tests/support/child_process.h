// The one way tests start a process of their own: an executable, or a
// function of the test program run in a forked copy of it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vqtest {

struct ChildSpec {
  // Run as the child, if set: the child runs it and exits with its result.
  std::function<int()> function;
  // Else argv[0] is the executable, run with argv.
  std::vector<std::string> argv;
  // The whole environment of an executable; inherit_env starts from the
  // caller's instead. Ignored for a function, which has the caller's.
  std::map<std::string, std::string> env;
  bool inherit_env = false;
  // Working folder; empty keeps the caller's.
  std::string work_dir;
  // Files stdout and stderr are written to (the same one is fine); empty
  // keeps the caller's. stdin is /dev/null.
  std::string out_path;
  std::string err_path;
  // A process group of its own: Signal and the clean-up reach its children.
  bool own_group = false;
  // stdin, stdout and stderr on a new pseudo-terminal (out_path, err_path
  // ignored); the caller reads the screen with ReadTerminal.
  bool terminal = false;
};

// The environment entries named here, taken from the caller's when set.
std::map<std::string, std::string> PickEnv(const std::vector<std::string>& names);

class ChildProcess {
 public:
  explicit ChildProcess(const ChildSpec& spec);
  // A child still running is killed (SIGKILL) and reaped.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }
  // False once it has ended (it is reaped then).
  bool Running();
  void Signal(int signo);
  // Waits up to limit for it to end: its wait status, or -1 when it still runs.
  int Wait(std::chrono::milliseconds limit);
  // Signal, then Wait; one still running after limit is killed and -1 comes back.
  int Stop(int signo, std::chrono::milliseconds limit);
  // With ChildSpec::terminal: everything written to the terminal until the
  // child closes it (ends).
  std::string ReadTerminal();

 private:
  pid_t pid_ = -1;
  bool own_group_ = false;
  int terminal_fd_ = -1;
  bool ended_ = false;
  int status_ = 0;
};

}  // namespace vqtest
