#include "tests/support/wait_until.h"

#include <thread>

namespace vqtest {

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit,
               std::chrono::milliseconds poll) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return done();
    std::this_thread::sleep_for(poll);
  }
  return true;
}

}  // namespace vqtest
