// A vqsrv child process for end-to-end tests: started on a free loopback
// port with its own odbc.ini, debug level and trace file, reached over
// HTTP, stopped with SIGTERM when the object goes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include <rapidjson/document.h>

namespace vqtest {

struct TraceLine {
  int level = 0;
  std::string text;
  bool operator==(const TraceLine&) const = default;
};

struct HttpReply {
  int status = 0;
  std::string body;
};

class VqsrvProcess {
 public:
  // odbc_ini: the file ODBCINI points at. debug_level: ZRM_DEBUG.
  // extra_env: further "NAME=value" entries of its environment.
  VqsrvProcess(const std::string& odbc_ini, int debug_level,
               const std::vector<std::string>& extra_env = {});
  ~VqsrvProcess();
  VqsrvProcess(const VqsrvProcess&) = delete;
  VqsrvProcess& operator=(const VqsrvProcess&) = delete;

  // POST /ZIDozeve with a JSON body.
  HttpReply Post(const std::string& json_body) const;
  // GET of another path (/metrics ...).
  HttpReply Get(const std::string& path) const;
  // Post, expect 200 and parse the body (fails the test otherwise).
  rapidjson::Document Call(const std::string& json_body) const;

  // The texts of the trace records written since the last "Process "
  // record, that record included (the time, level and request number are
  // cut off; a trailing line feed is dropped).
  std::vector<TraceLine> LastRequestTrace() const;
  // Only the texts of LastRequestTrace.
  std::vector<std::string> LastRequestTexts() const;

  const std::string& TracePath() const { return trace_; }
  int Port() const { return port_; }
  // The process's working folder (a temporary folder of its own).
  const std::string& WorkDir() const { return dir_; }

  // The process's peak resident memory so far (VmHWM), in kB; -1 when
  // /proc does not tell.
  long PeakMemoryKb() const;

  // Sends SIGTERM and waits up to limit_ms for the process to end. Its wait
  // status, or -1 when it was still running (it is then killed).
  int Terminate(int limit_ms);

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string dir_;
  std::string trace_;
};

// JSON text of a string value, quotes included.
std::string JsonString(const std::string& text);
// {"M":m,"P1":p1,"P2":p2,"P3":p3} for "query".
std::string QueryRequest(const std::string& dsn, const std::string& sql, int p3);
std::string QueryDbgRequest(const std::string& dsn, const std::string& sql);
std::string OpenRequest(const std::string& dsn);

}  // namespace vqtest
