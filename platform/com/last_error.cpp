// The calling thread's last system error.
#include "platform/com/com.h"

namespace {
thread_local DWORD t_last_error = ERROR_SUCCESS;
}

DWORD GetLastError() { return t_last_error; }

void SetLastError(DWORD error) { t_last_error = error; }
