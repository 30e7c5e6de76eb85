// Wildcard match of ZR_TString: '*' any run of characters, '?' one character.
#include <vector>

#include "platform/types/zr.h"
#include "platform/types/zr_utf8.h"

namespace {

// Simple case folding: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic
// capitals to their small letters. Enough for SQL keywords and common names.
char32_t FoldCase(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x100 && c <= 0x177 && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149) {
    // Pairs capital/small alternate, with an odd shift between 0x139 and 0x148.
    if (c >= 0x139 && c <= 0x148) return (c % 2 == 1) ? c + 1 : c;
    return (c % 2 == 0) ? c + 1 : c;
  }
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

std::vector<char32_t> Decode(const std::string& text, bool fold) {
  std::vector<char32_t> out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const char32_t c = zr_utf8::Next(text, i);
    out.push_back(fold ? FoldCase(c) : c);
  }
  return out;
}

}  // namespace

// Greedy scan that remembers only the last '*': on a mismatch it retries with
// that star taking one more character. Earlier stars never need revisiting, so
// the work is bounded by text length times pattern length, never exponential.
bool ZR_TString::Match(const ZR_TString& pattern, bool ignore_case) const {
  const std::vector<char32_t> t = Decode(utf8_, ignore_case);
  const std::vector<char32_t> p = Decode(pattern.utf8_, ignore_case);
  size_t ti = 0, pi = 0;
  size_t star = SIZE_MAX, star_t = 0;
  while (ti < t.size()) {
    if (pi < p.size() && p[pi] == U'*') {
      star = pi++;
      star_t = ti;
    } else if (pi < p.size() && (p[pi] == U'?' || p[pi] == t[ti])) {
      ++ti;
      ++pi;
    } else if (star != SIZE_MAX) {
      pi = star + 1;
      ti = ++star_t;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == U'*') ++pi;
  return pi == p.size();
}
