// Local heap blocks, as handed out by FormatMessageW. Only fixed blocks
// exist: the handle is the memory itself.
#include <cstdlib>

#include "platform/com/com.h"

HLOCAL LocalAlloc(UINT flags, size_t bytes) {
  if ((flags & ~LMEM_ZEROINIT) != 0) {  // movable and discardable blocks are not offered
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  size_t size = bytes == 0 ? 1 : bytes;  // a zero-size request still gets a block
  void* mem = (flags & LMEM_ZEROINIT) != 0 ? std::calloc(1, size) : std::malloc(size);
  if (mem == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return mem;
}

HLOCAL LocalFree(HLOCAL mem) {
  std::free(mem);
  return nullptr;
}
