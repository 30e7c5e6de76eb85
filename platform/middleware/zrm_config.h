// Middleware configuration from the ZRM_ environment variables.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct ZRM_Config {
  std::string listen_host = "127.0.0.1";  // IP literal (no brackets) or host name
  uint16_t listen_port = 7400;
  unsigned threads = 1;                   // request threads
  int debug = 0;                          // 0..3
  std::string trace_path;                 // empty: standard error
  uint64_t max_body = 1048576;            // bytes
  std::string token;                      // empty: no authorisation asked
  // Limits: every one has a default that keeps a busy or hostile client
  // from holding the process's memory, threads or descriptors.
  uint32_t read_timeout_ms = 10000;       // a request's header and body, from its first byte
  uint32_t idle_timeout_ms = 60000;       // keep-alive connection with no request under way
  uint32_t max_connections = 1024;        // open at once; past it: 503 and close
  uint64_t max_reply = uint64_t{256} << 20;  // reply body bytes; past it: 500
  uint32_t max_header = 16384;            // request line and header bytes; past it: 431
  uint32_t drain_timeout_ms = 10000;      // running requests answered within this after a stop
  // After a stop signal /readyz answers 503 at once, but the listener keeps
  // accepting (and requests are served) this long before the drain begins,
  // so a load balancer polling /readyz takes the instance out first.
  uint32_t drain_grace_ms = 0;
  bool metrics_public = false;            // /metrics and /readyz without the token
  bool pages = true;                      // ZRM_CONSOLE: serve the pages servers publish
};

// Looks a variable up; null when it is not set.
using ZRM_EnvLookup = std::function<const char*(const char*)>;

// Builds the configuration from the variables. Throws ZR_EException naming
// the variable for a value that is not a number or out of range.
ZRM_Config ZRM_ParseConfig(const ZRM_EnvLookup& env);

// Splits "host:port" or "[v6]:port". Throws ZR_EException naming ZRM_LISTEN.
void ZRM_ParseListen(const std::string& text, std::string& host, uint16_t& port);

// The process configuration, read from the environment on the first call.
const ZRM_Config& ZRM_GetConfig();
// Reads the environment again (tests that need other settings). Only valid
// while no server is bound.
void ZRM_ReloadConfig();
