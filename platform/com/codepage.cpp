// UTF-8 <-> UTF-16 for CP_ACP and CP_UTF8. Both directions are strict: text
// that is not well-formed fails as a whole instead of being patched with
// replacement characters, so nothing is silently altered.
#include <climits>
#include <cstring>

#include "platform/com/com.h"

namespace {

constexpr long kInvalid = -1;

bool IsCont(unsigned char b) { return (b & 0xC0) == 0x80; }

// Decodes UTF-8 into UTF-16 units; counts only when out is null. Returns the
// number of units or kInvalid.
long DecodeUtf8(const unsigned char* s, size_t n, OLECHAR* out) {
  long units = 0;
  size_t i = 0;
  while (i < n) {
    unsigned char b = s[i];
    uint32_t cp;
    size_t len;
    if (b < 0x80) {
      cp = b;
      len = 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
      cp = b & 0x1F;
      len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      cp = b & 0x0F;
      len = 3;
    } else if (b >= 0xF0 && b <= 0xF4) {
      cp = b & 0x07;
      len = 4;
    } else {
      return kInvalid;  // stray continuation byte, overlong lead, or beyond U+10FFFF
    }
    if (n - i < len) return kInvalid;  // truncated sequence
    for (size_t k = 1; k < len; ++k) {
      if (!IsCont(s[i + k])) return kInvalid;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    // Overlong forms, encoded surrogates and values past U+10FFFF.
    if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return kInvalid;
    }
    if (cp >= 0x10000) {
      if (out != nullptr) {
        out[units] = static_cast<OLECHAR>(0xD800 + ((cp - 0x10000) >> 10));
        out[units + 1] = static_cast<OLECHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      }
      units += 2;
    } else {
      if (out != nullptr) out[units] = static_cast<OLECHAR>(cp);
      units += 1;
    }
    i += len;
  }
  return units;
}

// Encodes UTF-16 as UTF-8; counts only when out is null. Returns the number
// of bytes or kInvalid for an unpaired surrogate.
long long EncodeUtf8(const OLECHAR* s, size_t n, unsigned char* out) {
  long long bytes = 0;
  auto put = [&](uint32_t b) {
    if (out != nullptr) out[bytes] = static_cast<unsigned char>(b);
    ++bytes;
  };
  for (size_t i = 0; i < n; ++i) {
    uint32_t cp = s[i];
    if (cp >= 0xDC00 && cp <= 0xDFFF) return kInvalid;
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 1 >= n || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return kInvalid;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    if (cp < 0x80) {
      put(cp);
    } else if (cp < 0x800) {
      put(0xC0 | (cp >> 6));
      put(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      put(0xE0 | (cp >> 12));
      put(0x80 | ((cp >> 6) & 0x3F));
      put(0x80 | (cp & 0x3F));
    } else {
      put(0xF0 | (cp >> 18));
      put(0x80 | ((cp >> 12) & 0x3F));
      put(0x80 | ((cp >> 6) & 0x3F));
      put(0x80 | (cp & 0x3F));
    }
  }
  return bytes;
}

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

bool ValidArguments(UINT code_page, const void* text, int len, const void* out, int out_len) {
  return (code_page == CP_ACP || code_page == CP_UTF8) && text != nullptr && len != 0 &&
         len >= -1 && out_len >= 0 && (out_len == 0 || out != nullptr);
}

}  // namespace

// `flags` are ignored: conversion is always strict.
int MultiByteToWideChar(UINT code_page, DWORD flags, const char* text, int len, OLECHAR* out,
                        int out_len) {
  if (!ValidArguments(code_page, text, len, out, out_len)) return Fail(ERROR_INVALID_PARAMETER);
  size_t n = len == -1 ? std::strlen(text) + 1 : static_cast<size_t>(len);
  auto* bytes = reinterpret_cast<const unsigned char*>(text);
  long units = DecodeUtf8(bytes, n, nullptr);
  if (units == kInvalid) return Fail(ERROR_NO_UNICODE_TRANSLATION);
  if (out_len == 0) return static_cast<int>(units);
  if (units > out_len) return Fail(ERROR_INSUFFICIENT_BUFFER);
  DecodeUtf8(bytes, n, out);
  return static_cast<int>(units);
}

// No character is ever replaced, so default_char is not used and
// *used_default is always false.
int WideCharToMultiByte(UINT code_page, DWORD flags, const OLECHAR* text, int len, char* out,
                        int out_len, const char* default_char, int* used_default) {
  if (!ValidArguments(code_page, text, len, out, out_len)) return Fail(ERROR_INVALID_PARAMETER);
  if (used_default != nullptr) *used_default = 0;
  size_t n = len == -1 ? static_cast<size_t>(lstrlenW(text)) + 1 : static_cast<size_t>(len);
  long long bytes = EncodeUtf8(text, n, nullptr);
  if (bytes == kInvalid) return Fail(ERROR_NO_UNICODE_TRANSLATION);
  if (bytes > INT_MAX) return Fail(ERROR_INSUFFICIENT_BUFFER);  // no int can hold the size
  if (out_len == 0) return static_cast<int>(bytes);
  if (bytes > out_len) return Fail(ERROR_INSUFFICIENT_BUFFER);
  EncodeUtf8(text, n, reinterpret_cast<unsigned char*>(out));
  return static_cast<int>(bytes);
}

int lstrlenA(const char* text) {
  return text == nullptr ? 0 : static_cast<int>(std::strlen(text));
}

int lstrlenW(const OLECHAR* text) {
  if (text == nullptr) return 0;
  int n = 0;
  while (text[n] != u'\0') ++n;
  return n;
}
