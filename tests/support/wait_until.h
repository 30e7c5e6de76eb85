// Waiting for a condition instead of sleeping for a fixed time.
#pragma once

#include <chrono>
#include <functional>

namespace vqtest {

// Calls done() until it returns true or limit has passed; true when it did.
// done() is called once more at the deadline, so a slow machine that makes
// it true just then still passes.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit,
               std::chrono::milliseconds poll = std::chrono::milliseconds(5));

}  // namespace vqtest
