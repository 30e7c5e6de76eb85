#include "platform/types/zr_utf8.h"

#include <cstring>

namespace zr_utf8 {

size_t SequenceLength(const unsigned char* p, size_t n) {
  const unsigned char b0 = p[0];
  if (b0 < 0x80) return 1;
  size_t len;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    if (b0 == 0xE0) lo = 0xA0;       // no overlong forms
    else if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    if (b0 == 0xF0) lo = 0x90;       // no overlong forms
    else if (b0 == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return 1;
  }
  if (n < len) return 1;
  if (p[1] < lo || p[1] > hi) return 1;
  for (size_t k = 2; k < len; ++k)
    if ((p[k] & 0xC0) != 0x80) return 1;
  return len;
}

char32_t Next(std::string_view text, size_t& i) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + i;
  const size_t len = SequenceLength(p, text.size() - i);
  i += len;
  switch (len) {
    case 1:
      return p[0] < 0x80 ? char32_t(p[0]) : kInvalidBase + p[0];
    case 2:
      return (char32_t(p[0] & 0x1F) << 6) | (p[1] & 0x3F);
    case 3:
      return (char32_t(p[0] & 0x0F) << 12) | (char32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
    default:
      return (char32_t(p[0] & 0x07) << 18) | (char32_t(p[1] & 0x3F) << 12) |
             (char32_t(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
  }
}

bool IsAscii(std::string_view text) {
  // Eight bytes at a time; the compiler vectorises the plain loop well.
  const char* p = text.data();
  size_t n = text.size();
  uint64_t acc = 0;
  while (n >= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    acc |= w;
    p += 8;
    n -= 8;
  }
  while (n > 0) {
    acc |= static_cast<unsigned char>(*p++);
    --n;
  }
  return (acc & 0x8080808080808080ull) == 0;
}

bool IsValid(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    const size_t len = SequenceLength(p + i, n - i);
    if (len == 1) return false;
    i += len;
  }
  return true;
}

size_t CountChars(std::string_view text) {
  if (IsAscii(text)) return text.size();
  size_t chars = 0;
  Advance(text, 0, text.size(), &chars);
  return chars;
}

size_t Advance(std::string_view text, size_t from, size_t count, size_t* skipped) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = from, k = 0;
  while (k < count && i < n) {
    i += p[i] < 0x80 ? 1 : SequenceLength(p + i, n - i);
    ++k;
  }
  if (skipped) *skipped = k;
  return i;
}

void Append(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void AppendSanitized(std::string& out, std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0, run = 0;  // run: start of the valid stretch not yet copied
  while (i < n) {
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    const size_t len = SequenceLength(p + i, n - i);
    if (len == 1) {
      out.append(text.data() + run, i - run);
      Append(out, kReplacement);
      run = ++i;
    } else {
      i += len;
    }
  }
  out.append(text.data() + run, n - run);
}

}  // namespace zr_utf8
