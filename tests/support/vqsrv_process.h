// The vqsrv executable run for a test on a loopback port, with a working
// folder of its own, reached over HTTP and stopped with a chosen signal.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "tests/support/child_process.h"
#include "tests/support/http_client.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/vqsrv_trace.h"

namespace vqtest {

struct VqsrvOptions {
  // Set in its environment, over the base one.
  std::map<std::string, std::string> env;
  // Base environment: the caller's without its ZRM_ variables; else a small
  // clean one (PATH, sanitizer and VQ_ADO_ settings, ODBCSYSINI, LC_ALL=C,
  // ZRM_THREADS=1, ZRM_TRACE in the working folder).
  bool inherit_env = false;
  // 0: a free port, and another one when it was taken meanwhile.
  unsigned short port = 0;
  // Wait until /healthz answers; the constructor throws when it never does.
  // Without it the process may still be starting (or failing) afterwards.
  bool wait_ready = true;
};

// The caller's environment (without its ZRM_ variables) plus vars, on a free
// port, not waited for: for tests of start-up itself.
VqsrvOptions CallerEnv(std::map<std::string, std::string> vars = {});

class VqsrvProcess {
 public:
  explicit VqsrvProcess(VqsrvOptions options);
  // Clean environment with ODBCINI=odbc_ini, ZRM_DEBUG=debug_level and the
  // "NAME=value" entries of extra_env; started and serving.
  VqsrvProcess(const std::string& odbc_ini, int debug_level,
               const std::vector<std::string>& extra_env = {});
  // Ends it with SIGTERM (SIGKILL if it lingers) and removes its folder.
  ~VqsrvProcess();
  VqsrvProcess(const VqsrvProcess&) = delete;
  VqsrvProcess& operator=(const VqsrvProcess&) = delete;

  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  int Port() const { return port_; }
  bool Started() const { return child_ != nullptr; }
  // True once /healthz answers with 200, false when it ended or did not
  // within a few seconds.
  bool WaitReady();

  void Signal(int signo) { child_->Signal(signo); }
  // Waits up to limit for the process to end; the wait status, or -1.
  int Wait(std::chrono::milliseconds limit = std::chrono::seconds(15)) { return child_->Wait(limit); }
  // Sends SIGTERM and waits up to limit_ms: the wait status, or -1 when it
  // still ran (it is then killed).
  int Terminate(int limit_ms);

  // What it wrote to stdout and to stderr.
  std::string Output() const { return ReadFile(dir_.File("stdout")); }
  std::string Errors() const { return ReadFile(dir_.File("stderr")); }

  // POST /ZIDozeve with a JSON body, GET of another path (/metrics ...).
  HttpAnswer Post(const std::string& json_body) const;
  HttpAnswer Get(const std::string& path) const;
  // Post, expect 200 and parse the body (fails the test otherwise).
  rapidjson::Document Call(const std::string& json_body) const;

  const std::string& TracePath() const { return trace_; }
  std::vector<TraceLine> LastRequestTrace() const { return vqtest::LastRequestTrace(trace_); }
  std::vector<std::string> LastRequestTexts() const;
  // Its working folder (a temporary folder of its own).
  const std::string& WorkDir() const { return dir_.Path(); }
  // Its peak resident memory so far (VmHWM), in kB; -1 when /proc does not tell.
  long PeakMemoryKb() const;

 private:
  ScratchDir dir_{"vqsrv"};
  int port_ = 0;
  std::string trace_;
  std::unique_ptr<ChildProcess> child_;
};

}  // namespace vqtest
