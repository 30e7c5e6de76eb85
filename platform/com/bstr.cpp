// BSTR: [uint32 byte length][text bytes][two NUL bytes]. The pointer handed
// out points at the text, so a BSTR reads as a NUL-terminated UTF-16 text.
#include <cstdlib>
#include <cstring>

#include "platform/com/com.h"

namespace {

constexpr size_t kPrefix = sizeof(uint32_t);
// Lengths are stored in 32 bits; anything this large is a caller's mistake.
constexpr uint64_t kMaxBytes = 0x7FFFFFF0u;

BSTR Allocate(const void* bytes, uint64_t byte_len) {
  if (byte_len > kMaxBytes) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + byte_len + 2));
  if (block == nullptr) return nullptr;
  uint32_t stored = static_cast<uint32_t>(byte_len);
  std::memcpy(block, &stored, kPrefix);
  unsigned char* text = block + kPrefix;
  if (bytes != nullptr) {
    std::memcpy(text, bytes, byte_len);
  } else {
    std::memset(text, 0, byte_len);
  }
  text[byte_len] = 0;
  text[byte_len + 1] = 0;
  return reinterpret_cast<BSTR>(text);
}

uint32_t StoredBytes(BSTR text) {
  uint32_t stored;
  std::memcpy(&stored, reinterpret_cast<unsigned char*>(text) - kPrefix, kPrefix);
  return stored;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  uint64_t len = 0;
  while (text[len] != u'\0') ++len;
  return Allocate(text, len * sizeof(OLECHAR));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT len) {
  return Allocate(text, static_cast<uint64_t>(len) * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(const char* bytes, UINT byte_len) {
  return Allocate(bytes, byte_len);
}

void SysFreeString(BSTR text) {
  if (text == nullptr) return;
  std::free(reinterpret_cast<unsigned char*>(text) - kPrefix);
}

UINT SysStringLen(BSTR text) {
  return text == nullptr ? 0 : StoredBytes(text) / sizeof(OLECHAR);
}

UINT SysStringByteLen(BSTR text) {
  return text == nullptr ? 0 : StoredBytes(text);
}
