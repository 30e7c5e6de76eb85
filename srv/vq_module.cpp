// The module's initialisation function, by which the framework (and the
// entry function) make sure the middleware module is ready.
#include "srv/vq_server.h"

namespace {
bool g_initialised = false;
}

extern "C" bool __ZR_INITIALIZATION_FUNCTION_vqsrv__() {
  if (g_initialised) return true;
  // Set only on success, so a failed start of the middleware is retried.
  g_initialised = __ZR_INITIALIZATION_FUNCTION_VERArid__();
  return g_initialised;
}
