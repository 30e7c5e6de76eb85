#include "platform/middleware/zrm_trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/middleware/zrm.h"
#include "platform/types/zr.h"

namespace {

std::mutex g_trace_mutex;
int g_trace_fd = STDERR_FILENO;
std::string g_trace_path;  // empty: standard error; under g_trace_mutex
thread_local uint64_t t_request_number = 0;

// Writes all of it; a short write (signal, pipe) continues where it stopped.
void WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return;  // nowhere to report a broken trace; the request goes on
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
}

// Writes "YYYY-MM-DDTHH:MM:SS.mmmZ" (24 bytes) at out.
size_t FormatTime(int64_t epoch_ms, char* out) {
  int64_t secs = epoch_ms / 1000;
  int64_t ms = epoch_ms % 1000;
  if (ms < 0) {
    ms += 1000;
    --secs;
  }
  const time_t t = static_cast<time_t>(secs);
  struct tm tm;
  gmtime_r(&t, &tm);
  const size_t n = std::strftime(out, 32, "%Y-%m-%dT%H:%M:%S", &tm);
  out[n] = '.';
  out[n + 1] = static_cast<char>('0' + ms / 100);
  out[n + 2] = static_cast<char>('0' + ms / 10 % 10);
  out[n + 3] = static_cast<char>('0' + ms % 10);
  out[n + 4] = 'Z';
  return n + 5;
}

// Appending, so records of another process writing the same file are not
// overwritten; created with 0644 less the umask.
int OpenTraceFile(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

// Makes fd the trace's file and closes the one before it, outside the lock
// (closing may take a while on some file systems).
void Switch(int fd, const std::string& path) {
  int old;
  {
    std::lock_guard<std::mutex> lock(g_trace_mutex);
    old = g_trace_fd;
    g_trace_fd = fd;
    g_trace_path = path;
  }
  if (old != STDERR_FILENO) ::close(old);
}

}  // namespace

void ZRM_TraceOpen(const std::string& path) {
  int fd = STDERR_FILENO;
  if (!path.empty()) {
    fd = OpenTraceFile(path);
    if (fd < 0)
      throw ZR_EException("ZRM_TRACE: cannot open \"" + path + "\": " + std::strerror(errno));
  }
  Switch(fd, path);
}

ZRM_TraceReopenResult ZRM_TraceReopen(std::string& reason) {
  std::string path;
  {
    std::lock_guard<std::mutex> lock(g_trace_mutex);
    path = g_trace_path;
  }
  if (path.empty()) return ZRM_TraceReopenResult::kStandardError;
  const int fd = OpenTraceFile(path);
  if (fd < 0) {
    reason = "\"" + path + "\": " + std::strerror(errno);
    return ZRM_TraceReopenResult::kFailed;
  }
  Switch(fd, path);
  return ZRM_TraceReopenResult::kReopened;
}

void ZRM_TraceWrite(std::string_view record) {
  std::lock_guard<std::mutex> lock(g_trace_mutex);
  WriteAll(g_trace_fd, record.data(), record.size());
}

std::string ZRM_FormatUtcMillis(int64_t epoch_ms) {
  char buf[40];
  return std::string(buf, FormatTime(epoch_ms, buf));
}

void ZRM_TraceRecord(int level, uint64_t request_number, std::string_view text) {
  const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  char head[96];
  size_t n = FormatTime(now, head);
  n += static_cast<size_t>(std::snprintf(head + n, sizeof head - n, " L%d #%llu ", level,
                                         static_cast<unsigned long long>(request_number)));
  std::string record;
  record.reserve(n + text.size() + 1);
  record.append(head, n);
  record.append(text);
  if (text.empty() || text.back() != '\n') record.push_back('\n');
  ZRM_TraceWrite(record);
}

ZRM_RequestNumberScope::ZRM_RequestNumberScope(uint64_t number)
    : previous_(t_request_number) {
  t_request_number = number;
}

ZRM_RequestNumberScope::~ZRM_RequestNumberScope() { t_request_number = previous_; }

uint64_t ZRM_CurrentRequestNumber() { return t_request_number; }
