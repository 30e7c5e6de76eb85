// Fuzzes the framework string's cuts, searches and wildcard match and checks
// their invariants. For plain ASCII texts std::string is the oracle.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/types/zr.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool IsAscii(const std::string& s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

bool HasWildcard(const std::string& s) {
  return s.find('*') != std::string::npos || s.find('?') != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const uint32_t start = in.ConsumeIntegral<uint32_t>() % 300 + (in.ConsumeBool() ? 0xFFFFFF00u : 0u);
  const uint32_t count = in.ConsumeBool() ? ZR_TString::kWhole : in.ConsumeIntegral<uint32_t>() % 300;
  const int32_t find_start = in.ConsumeIntegralInRange<int32_t>(-5, 300);
  const char c = in.ConsumeIntegral<char>();
  const bool ignore_case = in.ConsumeBool();
  const std::string pattern_text = in.ConsumeRandomLengthString(64);
  const std::string text_bytes = in.ConsumeRemainingBytesAsString();

  const ZR_TString text(text_bytes.data(), static_cast<uint32_t>(text_bytes.size()));
  const int32_t length = text.Length();
  Check(length >= 0);
  Check(static_cast<size_t>(length) <= text.ByteLength());

  const ZR_TString piece = text.SubString(start, count);
  Check(piece.Length() <= length);
  Check(static_cast<uint32_t>(piece.Length()) <= count);
  if (start >= static_cast<uint32_t>(length)) Check(piece.IsEmpty());

  const int32_t found = text.Find(c, find_start);
  Check(found == -1 || (found >= 0 && found < length && found >= find_start));

  // Without wildcards a text matches itself, in either case mode.
  if (!HasWildcard(text_bytes)) {
    Check(text.Match(text, false));
    Check(text.Match(text, true));
  }
  Check(text.Match(ZR_TString("*"), ignore_case));
  const ZR_TString pattern(pattern_text.data(), static_cast<uint32_t>(pattern_text.size()));
  const bool matched = text.Match(pattern, ignore_case);
  // A pattern of only '*' runs matches everything.
  if (!pattern_text.empty() && pattern_text.find_first_not_of('*') == std::string::npos) Check(matched);

  if (IsAscii(text_bytes) && text_bytes.find('\0') == std::string::npos) {
    Check(static_cast<size_t>(length) == text_bytes.size());
    const std::string expected = start >= text_bytes.size() ? "" : text_bytes.substr(start, count);
    Check(piece.Utf8() == expected);
    const size_t from = find_start < 0 ? 0 : static_cast<size_t>(find_start);
    const size_t pos = from > text_bytes.size() ? std::string::npos : text_bytes.find(c, from);
    Check(found == (pos == std::string::npos ? -1 : static_cast<int32_t>(pos)));
  }
  return 0;
}
