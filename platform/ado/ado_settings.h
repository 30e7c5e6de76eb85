// Settings of the data-object layer taken from the environment, read once
// on first use:
//   VQ_ADO_POOL             1 (default) keeps released ODBC connections for
//                           reuse, 0 closes every connection on release
//   VQ_ADO_POOL_MAX         most idle connections kept in all (default 64;
//                           at most 16 of them for one connection string)
//   VQ_ADO_POOL_IDLE_MS     an idle connection unused this long is closed
//                           (default 60000)
//   VQ_ADO_BLOCK_FETCH      1 (default) reads rows through bound column
//                           buffers, 0 reads every cell with SQLGetData
//   VQ_ADO_COMMAND_TIMEOUT  statement time limit in seconds of a new
//                           Connection (default 30, 0 = none)
// A value that is not a whole number in range is ignored (the default holds).
#pragma once

#include <chrono>
#include <cstddef>

#include "platform/com/com.h"

namespace zado {

struct PoolSettings {
  bool enabled = true;
  size_t max_total = 64;
  size_t max_per_key = 16;
  std::chrono::milliseconds idle_timeout{60000};
};

// Parses a non-negative whole number no larger than max; false otherwise.
bool ParseSetting(const char* text, long long max, long long* value);

PoolSettings PoolSettingsFromEnvironment();
const PoolSettings& ProcessPoolSettings();

bool BlockFetchEnabled();

// The command time-out a new Connection starts with.
LONG DefaultCommandTimeout();

}  // namespace zado
