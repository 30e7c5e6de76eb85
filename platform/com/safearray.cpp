// One-dimensional byte arrays. The descriptor and the data share one block,
// so destroying an array is a single free.
#include <cstdlib>
#include <cstring>

#include "platform/com/com.h"

namespace {

constexpr ULONG kMaxElements = 0x7FFFFFF0u;

SAFEARRAY* AllocateBytes(ULONG count) {
  if (count > kMaxElements) return nullptr;
  // calloc so a fresh array reads as zeros.
  auto* block = static_cast<unsigned char*>(std::calloc(1, sizeof(SAFEARRAY) + count));
  if (block == nullptr) return nullptr;
  auto* array = reinterpret_cast<SAFEARRAY*>(block);
  array->cbElements = 1;
  array->cElements = count;
  array->pvData = block + sizeof(SAFEARRAY);
  return array;
}

}  // namespace

// Only byte vectors exist here; other element types yield null. The lower
// bound is not kept: every array is addressed from 0.
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lower_bound, ULONG count) {
  if (vt != VT_UI1) return nullptr;
  return AllocateBytes(count);
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
  std::free(array);
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* array, SAFEARRAY** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (array == nullptr) return S_OK;
  if (array->cbElements != 1) return E_INVALIDARG;
  SAFEARRAY* copy = AllocateBytes(array->cElements);
  if (copy == nullptr) return E_OUTOFMEMORY;
  if (array->cElements != 0) std::memcpy(copy->pvData, array->pvData, array->cElements);
  *out = copy;
  return S_OK;
}
