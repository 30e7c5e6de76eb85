// Runs the vqcall executable and collects what it printed and its status.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace vqtest {

struct VqcallResult {
  int exit_code = -1;  // -1 when it did not exit normally
  std::string out;
  std::string err;
};

// args follow the program name. The child gets PATH, ASAN_OPTIONS and
// UBSAN_OPTIONS from this process plus env, and nothing else, so a VQ_URL or
// VQ_TOKEN of the caller cannot leak in.
VqcallResult RunVqcall(const std::vector<std::string>& args,
                       const std::map<std::string, std::string>& env = {});

}  // namespace vqtest
