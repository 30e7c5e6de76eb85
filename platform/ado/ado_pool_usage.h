// How many ODBC connections the data-object layer holds, per data source,
// for the service's metrics.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AdoPoolUsage {
  // The DSN= value of the connection strings, in lower case (unixODBC
  // ignores the case of names); "" for connection strings without one.
  std::string dsn;
  uint64_t idle = 0;   // kept for reuse
  uint64_t busy = 0;   // held by Connection and Recordset objects now
  // Since start: times an object found no idle connection to take and waited
  // for a new one to be opened.
  uint64_t waits = 0;
};

// One entry per data source that has had a connection since start (at most
// 256 names; later names are counted under "").
std::vector<AdoPoolUsage> AdoPoolUsageByDsn();
