// Reading the trace file vqsrv writes.
#pragma once

#include <string>
#include <vector>

namespace vqtest {

struct TraceLine {
  int level = 0;
  std::string text;
  bool operator==(const TraceLine&) const = default;
};

// The records written since the last "Process " record, that record
// included, with the time, level and request number cut off (a record whose
// text holds a line feed stays one line, without the trailing one).
std::vector<TraceLine> LastRequestTrace(const std::string& trace_path);

}  // namespace vqtest
