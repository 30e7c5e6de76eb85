#include "tests/support/vqsrv_process.h"

#include <signal.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "tests/support/free_port.h"
#include "tests/support/wait_until.h"

extern char** environ;

namespace vqtest {

using namespace std::chrono_literals;

namespace {

std::map<std::string, std::string> BaseEnv(bool inherit, const std::string& trace) {
  std::map<std::string, std::string> env;
  if (inherit) {
    for (char** e = environ; *e; ++e) {
      const std::string kv = *e;
      const auto eq = kv.find('=');
      if (kv.rfind("ZRM_", 0) != 0 && eq != std::string::npos) env[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    return env;
  }
  env = PickEnv({"PATH", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "VQ_ADO_POOL",
                 "VQ_ADO_POOL_MAX", "VQ_ADO_POOL_IDLE_MS", "VQ_ADO_COMMAND_TIMEOUT", "VQ_ADO_BLOCK_FETCH"});
  // The driver list the test process uses (drivers kept loaded), else the system's.
  const char* sysini = std::getenv("ODBCSYSINI");
  env["ODBCSYSINI"] = sysini ? sysini : "/etc";
  env["ZRM_THREADS"] = "1";
  env["LC_ALL"] = "C";
  env["ZRM_TRACE"] = trace;
  return env;
}

}  // namespace

VqsrvProcess::VqsrvProcess(VqsrvOptions options) {
  trace_ = dir_.File("trace.log");
  std::map<std::string, std::string> env = BaseEnv(options.inherit_env, trace_);
  for (const auto& [k, v] : options.env) env[k] = v;
  if (env.count("ZRM_TRACE")) trace_ = env["ZRM_TRACE"];
  ChildSpec spec;
  spec.argv = {VQSRV_EXE};
  spec.work_dir = dir_.Path();  // files a driver makes in its working folder land here
  spec.out_path = dir_.File("stdout");
  spec.err_path = dir_.File("stderr");
  // Another process may take a free port between the look-up and the bind:
  // a few ports are tried before giving up.
  const int attempts = options.port == 0 && options.wait_ready ? 5 : 1;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    port_ = options.port ? options.port : FreePort();
    env["ZRM_LISTEN"] = Address();
    spec.env = env;
    child_ = std::make_unique<ChildProcess>(spec);
    if (!options.wait_ready || WaitReady()) return;
    child_->Stop(SIGKILL, 5s);
  }
  child_.reset();
  throw std::runtime_error("vqsrv did not start: " + Output() + Errors() + ReadFile(trace_));
}

VqsrvProcess::VqsrvProcess(const std::string& odbc_ini, int debug_level,
                           const std::vector<std::string>& extra_env)
    : VqsrvProcess([&] {
        VqsrvOptions o;
        o.env["ODBCINI"] = odbc_ini;
        o.env["ZRM_DEBUG"] = std::to_string(debug_level);
        for (const std::string& entry : extra_env) {
          const auto eq = entry.find('=');
          o.env[entry.substr(0, eq)] = eq == std::string::npos ? "" : entry.substr(eq + 1);
        }
        return o;
      }()) {}

VqsrvOptions CallerEnv(std::map<std::string, std::string> vars) {
  VqsrvOptions o;
  o.env = std::move(vars);
  o.inherit_env = true;
  o.wait_ready = false;
  return o;
}

VqsrvProcess::~VqsrvProcess() {
  if (child_) child_->Stop(SIGTERM, 10s);
}

bool VqsrvProcess::WaitReady() {
  return WaitUntil(
      [&] {
        if (!child_->Running()) return true;  // ended: no use waiting
        try {
          return Request(Address(), boost::beast::http::verb::get, "/healthz", "", {}, 2000).status == 200;
        } catch (const std::exception&) {
          return false;
        }
      },
      15s, 20ms) && child_->Running();
}

int VqsrvProcess::Terminate(int limit_ms) { return child_->Stop(SIGTERM, std::chrono::milliseconds(limit_ms)); }

HttpAnswer VqsrvProcess::Post(const std::string& json_body) const {
  return Request(Address(), boost::beast::http::verb::post, "/ZIDozeve", json_body);
}

HttpAnswer VqsrvProcess::Get(const std::string& path) const {
  return Request(Address(), boost::beast::http::verb::get, path);
}

rapidjson::Document VqsrvProcess::Call(const std::string& json_body) const {
  const HttpAnswer reply = Post(json_body);
  EXPECT_EQ(reply.status, 200u) << json_body << " -> " << reply.body;
  rapidjson::Document doc;
  doc.Parse(reply.body.c_str(), reply.body.size());
  EXPECT_FALSE(doc.HasParseError()) << reply.body;
  return doc;
}

std::vector<std::string> VqsrvProcess::LastRequestTexts() const {
  std::vector<std::string> texts;
  for (const auto& line : LastRequestTrace()) texts.push_back(line.text);
  return texts;
}

long VqsrvProcess::PeakMemoryKb() const {
  std::ifstream status("/proc/" + std::to_string(child_->Pid()) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

}  // namespace vqtest
