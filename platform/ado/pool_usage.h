// Counts of the connections held per data source (ado.h): a
// Connection object reports each ODBC connection it holds and lets go.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace zado {

struct UsageCounts {
  std::atomic<int64_t> busy{0};
  std::atomic<uint64_t> waits{0};
};

// The counts of the data source named in a connection string. Entries live
// for the process, so the result may be kept.
UsageCounts& UsageOf(const std::u16string& connection_string);

// The DSN= value of a connection string in lower case; "" when it has none.
std::string DsnOf(const std::u16string& connection_string);

}  // namespace zado
