// COM initialisation, counted per thread. There is one threading model, so
// a mode change (RPC_E_CHANGED_MODE) cannot happen.
#include "platform/com/com.h"

namespace {
thread_local int t_init_count = 0;
}

HRESULT CoInitialize(void* reserved) {
  if (reserved != nullptr) return E_INVALIDARG;
  return ++t_init_count == 1 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  if (t_init_count > 0) --t_init_count;  // an unmatched call does nothing
}

int CoInitializeCount() { return t_init_count; }
