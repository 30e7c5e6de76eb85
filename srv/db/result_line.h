// The result line of "query": field texts joined by "|". It grows in parts
// of about 1 MiB, so a long line is never copied whole while it grows (a
// single string briefly holds itself twice at each growth), and it becomes
// the reply without another copy of it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types/zr.h"

class ResultLine {
 public:
  // limit: the largest reply in bytes (0: none); a line whose reply would
  // pass it throws ZRM_EReplyTooLarge instead of growing. keep_text: the
  // line is also kept whole for the trace (Text()).
  ResultLine(uint64_t limit, bool keep_text);

  void Append(std::string_view utf8);  // whole UTF-8 characters
  ResultLine& operator+=(const ZR_TString& text) {
    Append(text.Utf8());
    return *this;
  }
  uint64_t Size() const { return size_; }
  // The line so far; the empty text unless it is kept for the trace.
  const ZR_TString& Text() const { return text_; }

  // The reply, once: the line as a framework string, or, when it grew past
  // one part, the same JSON string written out as parts.
  ZR_TAny TakeReply();

 private:
  uint64_t limit_;
  bool keep_text_;
  uint64_t size_ = 0;
  std::string current_;            // the part being written
  std::vector<std::string> parts_;  // the parts written before it
  ZR_TString text_;
};
