#include "tests/tools/vqcall_run.h"

#include <sys/wait.h>

#include "tests/support/child_process.h"
#include "tests/support/scratch_dir.h"

namespace vqtest {

VqcallResult RunVqcall(const std::vector<std::string>& args,
                       const std::map<std::string, std::string>& env) {
  const ScratchDir dir("vqcall");
  ChildSpec spec;
  spec.argv = {VQCALL_PATH};
  spec.argv.insert(spec.argv.end(), args.begin(), args.end());
  spec.env = PickEnv({"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS"});
  for (const auto& [k, v] : env) spec.env[k] = v;
  spec.out_path = dir.File("out");
  spec.err_path = dir.File("err");
  ChildProcess child(spec);
  const int status = child.Wait(std::chrono::seconds(60));
  VqcallResult result;
  if (status != -1 && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  result.out = ReadFile(spec.out_path);
  result.err = ReadFile(spec.err_path);
  return result;
}

}  // namespace vqtest
