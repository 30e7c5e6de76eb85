#include "tests/tools/vqcall_run.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vqtest {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string TempFile() {
  char path[] = "/tmp/vqcall-test-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  close(fd);
  return path;
}

}  // namespace

VqcallResult RunVqcall(const std::vector<std::string>& args,
                       const std::map<std::string, std::string>& env) {
  const std::string out_path = TempFile();
  const std::string err_path = TempFile();

  std::vector<std::string> env_text;
  for (const char* name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
    if (const char* v = std::getenv(name)) env_text.push_back(std::string(name) + "=" + v);
  }
  for (const auto& [k, v] : env) env_text.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string exe = VQCALL_PATH;
  std::vector<std::string> words = args;
  std::vector<char*> argv = {exe.data()};
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_TRUNC);
    const int err = open(err_path.c_str(), O_WRONLY | O_TRUNC);
    const int in = open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) _exit(125);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    execve(exe.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  VqcallResult result;
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  result.out = Slurp(out_path);
  result.err = Slurp(err_path);
  unlink(out_path.c_str());
  unlink(err_path.c_str());
  return result;
}

}  // namespace vqtest
