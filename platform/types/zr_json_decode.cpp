// JSON reader: RapidJSON's iterative SAX parser builds framework values on an
// explicit stack, so neither parsing nor building recurses.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include "platform/types/zr_json.h"

namespace {

// Numbers arrive as their text and are converted here: the parser's own
// full-precision conversion reads outside its tables on some long mantissas
// with large exponents, and from_chars rounds correctly anyway.
constexpr unsigned kParseFlags = rapidjson::kParseIterativeFlag |
                                 rapidjson::kParseValidateEncodingFlag |
                                 rapidjson::kParseNumbersAsStringsFlag;

// Decimal exponent of the first significant digit of a JSON number whose
// value is not zero; saturates far beyond any double's range.
long long DecimalMagnitude(std::string_view text) {
  size_t i = text[0] == '-' ? 1 : 0;
  long long digits_before_point = 0;
  long long zeros_after_point = 0;
  bool significant = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (text[i] != '0') significant = true;
    if (significant) ++digits_before_point;
  }
  if (i < text.size() && text[i] == '.') {
    for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
      if (!significant && text[i] == '0') ++zeros_after_point;
      else significant = true;
    }
  }
  long long exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    for (; i < text.size(); ++i) {
      if (exponent < 1000000000) exponent = exponent * 10 + (text[i] - '0');
    }
    if (negative) exponent = -exponent;
  }
  return digits_before_point > 0 ? exponent + digits_before_point - 1
                                 : exponent - zeros_after_point - 1;
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
  // The text has the JSON number grammar, checked by the parser.
  bool RawNumber(const char* s, rapidjson::SizeType len, bool) {
    const char* end = s + len;
    if (std::string_view(s, len).find_first_of(".eE") == std::string_view::npos) {
      int64_t i = 0;
      const auto [ptr, ec] = std::from_chars(s, end, i);
      if (ec == std::errc() && ptr == end) return Put(ZR_TAny(i));
      // Beyond 64 bits: the nearest double, as for any other number.
    }
    double d = 0;
    const auto [ptr, ec] = std::from_chars(s, end, d);
    if (ec == std::errc::result_out_of_range) {
      // Too small for a double reads as zero; too large is refused.
      if (DecimalMagnitude(std::string_view(s, len)) > 0) return Double(HUGE_VAL);
      return Double(s[0] == '-' ? -0.0 : 0.0);
    }
    if (ec != std::errc() || ptr != end) {
      failure = "malformed number";
      return false;
    }
    return Double(d);
  }
  bool String(const char* s, rapidjson::SizeType len, bool) {
    return Put(ZR_TAny(ZR_TString(std::string(s, len))));
  }
  bool Key(const char* s, rapidjson::SizeType len, bool) {
    stack_.back().key.assign(s, len);
    return true;
  }
  bool StartObject() { return Open(true); }
  bool StartArray() { return Open(false); }
  bool EndObject(rapidjson::SizeType) { return Close(ZR_TAny(std::move(stack_.back().dict))); }
  bool EndArray(rapidjson::SizeType) { return Close(ZR_TAny(std::move(stack_.back().array))); }

 private:
  struct Frame {
    bool is_object;
    ZR_TDict dict;
    ZR_TArray array;
    std::string key;  // key of the value being read
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
    f.dict.Add(ZR_TString(f.key), std::move(value));  // a repeated key replaces in place
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
