// The process-wide trace sink and the request number of the calling thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Opens the trace destination: a file appended to, or standard error for an
// empty path. Throws ZR_EException naming ZRM_TRACE when the file cannot be
// opened.
void ZRM_TraceOpen(const std::string& path);

// Writes one finished record as it is, in a single write under a lock, so
// records of concurrent requests never interleave.
void ZRM_TraceWrite(std::string_view record);

// Formats "<UTC time> L<level> #<number> <text>" and a line feed unless the
// text ends with one, and writes it.
void ZRM_TraceRecord(int level, uint64_t request_number, std::string_view text);

// "2026-12-07T20:15:03.123Z" for a time in milliseconds since the epoch.
std::string ZRM_FormatUtcMillis(int64_t epoch_ms);

// Sets the calling thread's request number for the life of the scope.
class ZRM_RequestNumberScope {
 public:
  explicit ZRM_RequestNumberScope(uint64_t number);
  ~ZRM_RequestNumberScope();
  ZRM_RequestNumberScope(const ZRM_RequestNumberScope&) = delete;
  ZRM_RequestNumberScope& operator=(const ZRM_RequestNumberScope&) = delete;

 private:
  uint64_t previous_;
};
