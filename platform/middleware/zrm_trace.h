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

// What ZRM_TraceReopen did.
enum class ZRM_TraceReopenResult {
  kReopened,       // later records go to the file now at the path
  kStandardError,  // the trace goes to standard error: nothing to reopen
  kFailed,         // the path cannot be opened; records go on to the old file
};

// Opens the trace file's path again (as ZRM_TraceOpen does) and switches to
// it between two records, so a record is never split or lost across the old
// and the new file. The open happens outside the lock writers take, so they
// wait only for the switch itself. On kFailed, reason is the quoted path
// and the system's reason.
ZRM_TraceReopenResult ZRM_TraceReopen(std::string& reason);

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
