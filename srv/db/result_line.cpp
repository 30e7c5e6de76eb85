#include "srv/db/result_line.h"

#include <utility>

#include "platform/middleware/zrm.h"
#include "platform/types/zr_json.h"

namespace {

constexpr size_t kPartSize = 1 << 20;
// A new part gets its full room at once: growing it step by step would copy
// it each time and touch fresh memory twice over.
constexpr size_t kPartReserve = kPartSize + (64 << 10);

}  // namespace

ResultLine::ResultLine(uint64_t limit, bool keep_text) : limit_(limit), keep_text_(keep_text) {}

void ResultLine::Append(std::string_view utf8) {
  // The reply is the line as a JSON string: two quotes more, at least.
  if (limit_ != 0 && size_ + utf8.size() + 2 > limit_) throw ZRM_EReplyTooLarge();
  size_ += utf8.size();
  if (keep_text_) text_ += ZR_TString(std::string(utf8));
  if (current_.size() >= kPartSize) {
    parts_.push_back(std::move(current_));
    current_ = std::string();
    current_.reserve(kPartReserve);
  }
  current_.append(utf8);
}

ZR_TAny ResultLine::TakeReply() {
  text_ = ZR_TString();
  if (parts_.empty()) return ZR_TAny(ZR_TString(std::move(current_)));
  parts_.push_back(std::move(current_));
  // Each part is escaped on its own (a part ends between two appended
  // texts, so never inside a character) and given up right after, so the
  // line is not held twice.
  std::vector<std::string> json;
  json.reserve(parts_.size());
  for (size_t i = 0; i < parts_.size(); ++i) {
    const bool first = i == 0;
    const bool last = i + 1 == parts_.size();
    std::string out;
    out.reserve(parts_[i].size() + 2);
    if (first) out.push_back('"');
    ZR_JsonAppendEscaped(parts_[i], out);
    std::string().swap(parts_[i]);
    if (last) out.push_back('"');
    json.push_back(std::move(out));
  }
  parts_.clear();
  return ZR_TAny(ZR_TJsonText(std::move(json)));
}
