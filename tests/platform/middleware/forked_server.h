// A TestServer in a child process of its own, for tests that signal the
// process: started through the test launcher with a function to run; the
// child tells its address through a file.
#pragma once

#include <chrono>
#include <fstream>
#include <memory>
#include <string>

#include "tests/platform/middleware/test_server.h"
#include "tests/support/child_process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/wait_until.h"

namespace zrm_test {

class ForkedServer {
 public:
  // address stays empty when the child never told it.
  explicit ForkedServer(Vars vars) {
    const std::string address_file = dir_.File("address");
    vqtest::ChildSpec spec;
    spec.function = [&] {
      Running run(vars);
      std::ofstream(address_file) << run.Address() << "\n";
      run.loop.join();  // ends on SIGTERM, SIGHUP or SIGINT
      return 0;
    };
    child_ = std::make_unique<vqtest::ChildProcess>(spec);
    vqtest::WaitUntil(
        [&] {
          const std::string text = vqtest::ReadFile(address_file);
          if (text.empty() || text.back() != '\n') return !child_->Running();
          address_ = text.substr(0, text.size() - 1);
          return true;
        },
        std::chrono::seconds(10));
  }

  const std::string& Address() const { return address_; }
  vqtest::ChildProcess& Process() { return *child_; }

 private:
  vqtest::ScratchDir dir_{"zrm-server"};
  std::string address_;
  std::unique_ptr<vqtest::ChildProcess> child_;
};

}  // namespace zrm_test
