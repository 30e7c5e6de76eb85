#include "platform/ado/ado_settings.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "platform/ado/ado.h"

namespace zado {

bool ParseSetting(const char* text, long long max, long long* value) {
  if (!text || *text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < 0 || v > max) return false;
  *value = v;
  return true;
}

PoolSettings PoolSettingsFromEnvironment() {
  PoolSettings s;
  long long v = 0;
  if (ParseSetting(std::getenv("VQ_ADO_POOL"), 1, &v)) s.enabled = v == 1;
  if (ParseSetting(std::getenv("VQ_ADO_POOL_MAX"), 100000, &v)) s.max_total = static_cast<size_t>(v);
  s.max_per_key = std::min<size_t>(s.max_per_key, s.max_total);
  if (s.max_total == 0) s.enabled = false;
  if (ParseSetting(std::getenv("VQ_ADO_POOL_IDLE_MS"), 24LL * 3600 * 1000, &v))
    s.idle_timeout = std::chrono::milliseconds(v);
  return s;
}

const PoolSettings& ProcessPoolSettings() {
  static const PoolSettings settings = PoolSettingsFromEnvironment();
  return settings;
}

bool BlockFetchEnabled() {
  static const bool enabled = [] {
    long long v = 1;
    return !ParseSetting(std::getenv("VQ_ADO_BLOCK_FETCH"), 1, &v) || v == 1;
  }();
  return enabled;
}

LONG DefaultCommandTimeout() {
  static const LONG seconds = [] {
    long long v = 0;
    return ParseSetting(std::getenv("VQ_ADO_COMMAND_TIMEOUT"), 24 * 3600, &v) ? static_cast<LONG>(v)
                                                                               : kAdoDefaultCommandTimeout;
  }();
  return seconds;
}

namespace {
// Set once at start, read by every Open and MoveNext.
std::atomic<uint64_t> g_max_text_bytes{0};
std::atomic<bool> g_forward_only{false};
}  // namespace

}  // namespace zado

void AdoSetResultLimits(const AdoResultLimits& limits) {
  zado::g_max_text_bytes.store(limits.max_text_bytes, std::memory_order_relaxed);
  zado::g_forward_only.store(limits.forward_only, std::memory_order_relaxed);
}

AdoResultLimits AdoGetResultLimits() {
  return AdoResultLimits{zado::g_max_text_bytes.load(std::memory_order_relaxed),
                         zado::g_forward_only.load(std::memory_order_relaxed)};
}
