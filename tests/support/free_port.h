// A loopback port for a test server.
#pragma once

namespace vqtest {

// A loopback port nobody listened on a moment ago (the kernel's choice for
// port 0). Another process may take it before the caller binds it.
unsigned short FreePort();

}  // namespace vqtest
