// The calling thread's last system error as a failure code.
#pragma once

#include "platform/com/com.h"

// A positive system error becomes 0x8007xxxx; a value that is already a
// failure code passes unchanged. A conversion that failed without leaving
// an error behind still has to be reported as a failure, so 0 gives E_FAIL.
inline HRESULT LastErrorResult() {
  DWORD e = GetLastError();
  if (e == ERROR_SUCCESS) return E_FAIL;
  return HRESULT_FROM_WIN32(e);
}
