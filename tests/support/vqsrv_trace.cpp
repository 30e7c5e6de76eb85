#include "tests/support/vqsrv_trace.h"

#include <cstdlib>
#include <fstream>

namespace vqtest {
namespace {

// Cuts "<time> L<level> #<request> " off a trace record.
bool ParseRecord(const std::string& record, TraceLine& out) {
  const size_t a = record.find(' ');
  if (a == std::string::npos || a + 2 >= record.size() || record[a + 1] != 'L') return false;
  const size_t b = record.find(' ', a + 1);
  if (b == std::string::npos) return false;
  const size_t c = record.find(' ', b + 1);
  if (c == std::string::npos || record[b + 1] != '#') return false;
  out.level = std::atoi(record.substr(a + 2, b - a - 2).c_str());
  out.text = record.substr(c + 1);
  return true;
}

}  // namespace

std::vector<TraceLine> LastRequestTrace(const std::string& trace_path) {
  std::ifstream in(trace_path);
  std::vector<TraceLine> lines;
  std::string record;
  TraceLine line;
  while (std::getline(in, record)) {
    if (!ParseRecord(record, line)) {
      // A record whose text held a line feed goes on here.
      if (!lines.empty()) lines.back().text += "\n" + record;
      continue;
    }
    if (line.text.rfind("Process ", 0) == 0) lines.clear();
    lines.push_back(line);
  }
  return lines;
}

}  // namespace vqtest
