// JSON reader: RapidJSON's iterative SAX parser builds framework values on an
// explicit stack, so neither parsing nor building recurses.
#include <cmath>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include "platform/types/zr_json.h"

namespace {

constexpr unsigned kParseFlags = rapidjson::kParseIterativeFlag |
                                 rapidjson::kParseValidateEncodingFlag |
                                 rapidjson::kParseFullPrecisionFlag;

// Objects up to this size find repeated keys by a plain scan (ZR_TDict::Add);
// larger ones keep a hash index, so a big object decodes in linear time.
constexpr size_t kIndexFrom = 32;

// The builder's own access to a dictionary's entries: replacing and appending
// without Add's linear scan once the index has found or ruled out the key.
// The dictionary is a local, non-const object, so writing through this
// reference is sound.
std::vector<ZR_TDict::Entry>& MutableEntries(ZR_TDict& dict) {
  return const_cast<std::vector<ZR_TDict::Entry>&>(dict.Entries());
}

class Builder {
 public:
  // Set when the builder stops the parse; the parser then reports termination.
  std::string failure;
  ZR_TAny root;

  bool Null() { return Put(ZR_TAny()); }
  bool Bool(bool b) { return Put(ZR_TAny(b)); }
  bool Int(int i) { return Put(ZR_TAny(static_cast<int64_t>(i))); }
  bool Uint(unsigned u) { return Put(ZR_TAny(static_cast<int64_t>(u))); }
  bool Int64(int64_t i) { return Put(ZR_TAny(i)); }
  bool Uint64(uint64_t u) {
    if (u <= static_cast<uint64_t>(INT64_MAX)) return Put(ZR_TAny(static_cast<int64_t>(u)));
    return Put(ZR_TAny(static_cast<double>(u)));  // too big for an integer: nearest double
  }
  bool Double(double d) {
    if (!std::isfinite(d)) {
      failure = "number out of range";
      return false;
    }
    return Put(ZR_TAny(d));
  }
  bool RawNumber(const char*, rapidjson::SizeType, bool) { return false; }  // not requested
  bool String(const char* s, rapidjson::SizeType len, bool) {
    return Put(ZR_TAny(ZR_TString(std::string(s, len))));
  }
  bool Key(const char* s, rapidjson::SizeType len, bool) {
    stack_.back().key.assign(s, len);
    return true;
  }
  bool StartObject() { return Open(true); }
  bool StartArray() { return Open(false); }
  bool EndObject(rapidjson::SizeType) {
    Frame& f = stack_.back();
    if (!f.overflow.empty()) {
      auto& entries = MutableEntries(f.dict);
      f.index.clear();  // holds views of the keys about to move
      entries.reserve(entries.size() + f.overflow.size());
      for (ZR_TDict::Entry& e : f.overflow) entries.push_back(std::move(e));
    }
    return Close(ZR_TAny(std::move(f.dict)));
  }
  bool EndArray(rapidjson::SizeType) { return Close(ZR_TAny(std::move(stack_.back().array))); }

 private:
  struct Frame {
    bool is_object;
    ZR_TDict dict;
    ZR_TArray array;
    std::string key;  // key of the value being read
    // Large objects: entries past the first kIndexFrom wait in a deque (no
    // moves while it grows) and join the dictionary at the end. The index
    // maps a key to its entry: below dict.Size() in the dictionary, else in
    // the deque. Its views point at keys that do not move until the end.
    std::deque<ZR_TDict::Entry> overflow;
    std::unordered_map<std::string_view, size_t> index;
  };

  bool Open(bool is_object) {
    if (stack_.size() >= static_cast<size_t>(kZR_JsonMaxDepth)) {
      failure = "nesting deeper than " + std::to_string(kZR_JsonMaxDepth) + " levels";
      return false;
    }
    stack_.emplace_back();
    stack_.back().is_object = is_object;
    return true;
  }

  bool Close(ZR_TAny value) {
    stack_.pop_back();
    return Put(std::move(value));
  }

  bool Put(ZR_TAny value) {
    if (stack_.empty()) {
      root = std::move(value);
      return true;
    }
    Frame& f = stack_.back();
    if (!f.is_object) {
      f.array.Append(std::move(value));
      return true;
    }
    if (f.dict.Size() < kIndexFrom && f.index.empty()) {
      f.dict.Add(ZR_TString(f.key), std::move(value));
      return true;
    }
    auto& entries = MutableEntries(f.dict);
    if (f.index.empty()) {
      for (size_t i = 0; i < entries.size(); ++i) f.index.emplace(entries[i].key.Utf8(), i);
    }
    auto it = f.index.find(std::string_view(f.key));
    if (it == f.index.end()) {
      const size_t at = entries.size() + f.overflow.size();
      f.overflow.push_back(ZR_TDict::Entry{ZR_TString(f.key), ZR_TAny()});
      f.overflow.back().value = std::move(value);
      f.index.emplace(f.overflow.back().key.Utf8(), at);
    } else if (it->second < entries.size()) {
      entries[it->second].value = std::move(value);  // a repeated key replaces in place
    } else {
      f.overflow[it->second - entries.size()].value = std::move(value);
    }
    return true;
  }

  std::vector<Frame> stack_;
};

[[noreturn]] void Fail(const std::string& what, size_t offset) {
  throw ZR_EJsonError("invalid JSON: " + what + " at byte offset " + std::to_string(offset));
}

}  // namespace

ZR_TAny ZR_JsonDecode(std::string_view text) {
  rapidjson::MemoryStream stream(text.data(), text.size());
  rapidjson::Reader reader;
  Builder builder;
  const rapidjson::ParseResult result = reader.Parse<kParseFlags>(stream, builder);
  if (result.IsError()) {
    std::string what;
    switch (result.Code()) {
      case rapidjson::kParseErrorTermination: what = builder.failure; break;
      case rapidjson::kParseErrorNumberTooBig: what = "number out of range"; break;
      case rapidjson::kParseErrorStringInvalidEncoding: what = "invalid UTF-8 in a string"; break;
      default: what = rapidjson::GetParseError_En(result.Code()); break;
    }
    if (what.empty()) what = "parse stopped";
    Fail(what, result.Offset());
  }
  // The stream reads a NUL byte as the end of input; anything after it is
  // not JSON.
  if (stream.Tell() < text.size()) Fail("unexpected NUL byte", stream.Tell());
  return std::move(builder.root);
}
