// A temporary folder of a test's own, removed with everything in it.
#pragma once

#include <string>

namespace vqtest {

class ScratchDir {
 public:
  // A new folder named after prefix under $TMPDIR (or the test framework's
  // temporary folder when $TMPDIR is unset).
  explicit ScratchDir(const std::string& prefix = "vqtest");
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& Path() const { return path_; }
  // Path() + "/" + name; the file itself is not made.
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The contents of a file; empty when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace vqtest
