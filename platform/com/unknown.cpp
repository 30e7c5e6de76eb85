// Default behaviour shared by all COM-style objects.
#include "platform/com/com.h"

// No type information is published: the count is 0 and the call answers
// E_NOTIMPL like the other late-binding entry points.
HRESULT IDispatch::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return E_NOTIMPL;
}

ULONG ComRefCount::DoRelease() {
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}
