// A server whose trace records are caught for the test: while it lives,
// standard error (where the trace goes when no trace file is configured)
// is redirected into a temporary file, and Lines() gives the records
// written so far, split into level and text.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "platform/middleware/zrm.h"

struct TraceLine {
  int level;         // -1 for a line that carried no record prefix
  std::string text;  // without the prefix and the line feed
  bool operator==(const TraceLine&) const = default;
};

class CaptureServer : public ZRM_TServer {
 public:
  explicit CaptureServer(int level) {
    SetDebugLevel(level);
    std::fflush(stderr);
    file_ = std::tmpfile();
    saved_ = ::dup(STDERR_FILENO);
    if (file_) ::dup2(::fileno(file_), STDERR_FILENO);
  }
  ~CaptureServer() override {
    std::fflush(stderr);
    if (saved_ >= 0) {
      ::dup2(saved_, STDERR_FILENO);
      ::close(saved_);
    }
    if (file_) std::fclose(file_);
  }

  const std::vector<TraceLine>& Lines() {
    std::fflush(stderr);
    if (!file_) return lines_;
    std::string all;
    char buf[4096];
    ::lseek(::fileno(file_), read_, SEEK_SET);
    ssize_t n;
    while ((n = ::read(::fileno(file_), buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
    read_ += static_cast<off_t>(all.size());
    static const std::regex prefix(R"(^\S+ L(\d+) #\d+ )");
    size_t start = 0;
    while (start < all.size()) {
      size_t end = all.find('\n', start);
      if (end == std::string::npos) end = all.size();
      std::string record = all.substr(start, end - start);
      std::smatch m;
      if (std::regex_search(record, m, prefix))
        lines_.push_back({std::stoi(m[1]), record.substr(static_cast<size_t>(m.length(0)))});
      else
        lines_.push_back({-1, record});
      start = end + 1;
    }
    return lines_;
  }
  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    for (const auto& l : Lines()) out.push_back(l.text);
    return out;
  }
  void Clear() {
    Lines();
    lines_.clear();
  }

 private:
  std::FILE* file_ = nullptr;
  int saved_ = -1;
  off_t read_ = 0;
  std::vector<TraceLine> lines_;
};
