#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vqtest {

ScratchDir::ScratchDir(const std::string& prefix) {
  const char* tmpdir = std::getenv("TMPDIR");
  std::string base = tmpdir && *tmpdir ? tmpdir : testing::TempDir();
  if (!base.empty() && base.back() == '/') base.pop_back();
  std::string pattern = base + "/" + prefix + "-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed under " + base);
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace vqtest
