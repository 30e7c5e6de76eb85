// "waiting for the server... N s" on standard error while a request takes
// long, rewritten in place and erased when the answer arrives. Only drawn
// when the stream is a terminal, so logs and pipes stay clean.
#pragma once

#include <cstdio>

namespace vqcall {

class ProgressLine {
 public:
  // enabled: usually isatty(fileno(stream)).
  ProgressLine(std::FILE* stream, bool enabled) : stream_(stream), enabled_(enabled) {}
  ~ProgressLine() { Clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void Show(int seconds);
  void Clear();

 private:
  std::FILE* stream_;
  bool enabled_;
  bool shown_ = false;
};

}  // namespace vqcall
