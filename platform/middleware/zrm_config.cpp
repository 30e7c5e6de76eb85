#include "platform/middleware/zrm_config.h"

#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/middleware/zrm.h"
#include "platform/middleware/zrm_trace.h"
#include "platform/types/zr.h"

namespace {

[[noreturn]] void Bad(const char* var, const std::string& why, const char* value) {
  throw ZR_EException(std::string(var) + " " + why + ", not \"" + value + "\"");
}

// A whole decimal number in [lo, hi]; anything else names the variable.
uint64_t ParseNumber(const char* var, const char* value, uint64_t lo, uint64_t hi) {
  const std::string range = "must be a whole number from " + std::to_string(lo) + " to " +
                            std::to_string(hi);
  if (*value == '\0') Bad(var, range, value);
  uint64_t n = 0;
  for (const char* p = value; *p; ++p) {
    if (*p < '0' || *p > '9') Bad(var, range, value);
    n = n * 10 + static_cast<uint64_t>(*p - '0');
    if (n > hi) Bad(var, range, value);
  }
  if (n < lo) Bad(var, range, value);
  return n;
}

std::mutex g_config_mutex;
std::optional<ZRM_Config> g_config;

}  // namespace

void ZRM_ParseListen(const std::string& text, std::string& host, uint16_t& port) {
  const std::string why = "must be host:port or [v6-address]:port";
  std::string port_text;
  if (!text.empty() && text[0] == '[') {
    const auto close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
      Bad("ZRM_LISTEN", why, text.c_str());
    host = text.substr(1, close - 1);
    port_text = text.substr(close + 2);
  } else {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || text.find(':') != colon)
      Bad("ZRM_LISTEN", why, text.c_str());
    host = text.substr(0, colon);
    port_text = text.substr(colon + 1);
  }
  if (host.empty()) Bad("ZRM_LISTEN", why, text.c_str());
  if (port_text.empty() || port_text.size() > 5) Bad("ZRM_LISTEN", why, text.c_str());
  for (char c : port_text)
    if (c < '0' || c > '9') Bad("ZRM_LISTEN", why, text.c_str());
  const unsigned long n = std::strtoul(port_text.c_str(), nullptr, 10);
  if (n > 65535) Bad("ZRM_LISTEN", "port must be from 0 to 65535", text.c_str());
  port = static_cast<uint16_t>(n);
}

ZRM_Config ZRM_ParseConfig(const ZRM_EnvLookup& env) {
  ZRM_Config c;
  const unsigned cores = std::thread::hardware_concurrency();
  c.threads = cores == 0 ? 1 : cores;
  if (const char* v = env("ZRM_LISTEN")) ZRM_ParseListen(v, c.listen_host, c.listen_port);
  if (const char* v = env("ZRM_THREADS"))
    c.threads = static_cast<unsigned>(ParseNumber("ZRM_THREADS", v, 1, 1024));
  if (const char* v = env("ZRM_DEBUG"))
    c.debug = static_cast<int>(ParseNumber("ZRM_DEBUG", v, 0, 3));
  if (const char* v = env("ZRM_TRACE")) c.trace_path = v;
  if (const char* v = env("ZRM_MAX_BODY"))
    c.max_body = ParseNumber("ZRM_MAX_BODY", v, 1, uint64_t{1} << 30);
  if (const char* v = env("ZRM_TOKEN")) c.token = v;
  constexpr uint64_t kDay = 86400000;
  if (const char* v = env("ZRM_READ_TIMEOUT_MS"))
    c.read_timeout_ms = static_cast<uint32_t>(ParseNumber("ZRM_READ_TIMEOUT_MS", v, 1, kDay));
  if (const char* v = env("ZRM_IDLE_TIMEOUT_MS"))
    c.idle_timeout_ms = static_cast<uint32_t>(ParseNumber("ZRM_IDLE_TIMEOUT_MS", v, 1, kDay));
  if (const char* v = env("ZRM_MAX_CONNECTIONS"))
    c.max_connections =
        static_cast<uint32_t>(ParseNumber("ZRM_MAX_CONNECTIONS", v, 1, 1000000));
  if (const char* v = env("ZRM_MAX_REPLY"))
    c.max_reply = ParseNumber("ZRM_MAX_REPLY", v, 1024, uint64_t{1} << 40);
  if (const char* v = env("ZRM_MAX_HEADER"))
    c.max_header = static_cast<uint32_t>(ParseNumber("ZRM_MAX_HEADER", v, 256, 1 << 20));
  if (const char* v = env("ZRM_DRAIN_TIMEOUT_MS"))
    c.drain_timeout_ms = static_cast<uint32_t>(ParseNumber("ZRM_DRAIN_TIMEOUT_MS", v, 1, kDay));
  if (const char* v = env("ZRM_DRAIN_GRACE_MS"))
    c.drain_grace_ms = static_cast<uint32_t>(ParseNumber("ZRM_DRAIN_GRACE_MS", v, 0, kDay));
  if (const char* v = env("ZRM_METRICS_PUBLIC"))
    c.metrics_public = ParseNumber("ZRM_METRICS_PUBLIC", v, 0, 1) == 1;
  if (const char* v = env("ZRM_CONSOLE")) c.pages = ParseNumber("ZRM_CONSOLE", v, 0, 1) == 1;
  return c;
}

static const ZRM_Config& LoadLocked(bool again) {
  if (!g_config || again) {
    ZRM_Config c = ZRM_ParseConfig([](const char* name) { return std::getenv(name); });
    ZRM_TraceOpen(c.trace_path);  // throws naming ZRM_TRACE
    g_config = std::move(c);
  }
  return *g_config;
}

const ZRM_Config& ZRM_GetConfig() {
  std::lock_guard<std::mutex> lock(g_config_mutex);
  return LoadLocked(false);
}

void ZRM_ReloadConfig() {
  std::lock_guard<std::mutex> lock(g_config_mutex);
  LoadLocked(true);
}

uint64_t ZRM_MaxReply() { return ZRM_GetConfig().max_reply; }
