// Process entry: prepares the process, builds the one server and runs the
// middleware's event loop until it ends.
#include <malloc.h>

#include <clocale>
#include <cstdlib>
#include <iostream>

#include "platform/com/com.h"
#include "platform/ado/ado.h"
#include "srv/vq_server.h"

int main() {
  // Blocks of 128 KiB and more come straight from the system and go back to
  // it when freed. The allocator's default raises that bound after each large
  // free, after which the rows and the reply of one large result stay in the
  // heap: the service's memory would keep the size of its largest answer.
  // glibc's own MALLOC_MMAP_THRESHOLD_ overrides this.
  if (std::getenv("MALLOC_MMAP_THRESHOLD_") == nullptr) mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  __ZR_INITIALIZATION_FUNCTION_vqsrv__();
  setlocale(LC_NUMERIC, "C");

  // Start-up of the data-access layer on the main thread.
  const HRESULT hr = CoInitialize(nullptr);
  if (hr != 0) return hr;
  AdoRegisterClasses();

  try {
    VQ_TServer server;
    // The commands read every result forward once, into a reply no larger
    // than ZRM_MAX_REPLY: a result is read no further than such a reply
    // could hold, and the rows a walk has passed are given back.
    AdoSetResultLimits(AdoResultLimits{ZRM_MaxReply(), true});
    server.SetTimeOut(-1);
    server.EventLoop();
  } catch (const ZR_EException& e) {
    e.Print(std::cout);
    std::cout << std::endl;
    throw ZR_EException(e);  // ends the process abnormally
  }
  return 0;
}
