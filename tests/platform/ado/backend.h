// The data sources the shared data-object cases run on.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/platform/ado/ado_test_util.h"

namespace adotest {

struct Backend {
  std::string name;
  // Makes the data source available and answers its connection string, or
  // "" when it is not available (the cases then skip).
  std::string (*connection_string)();
  bool exact_numbers;  // numeric columns arrive as adNumeric/VT_DECIMAL
  // A column declared boolean arrives as adBoolean/VT_BOOL; false where the
  // database makes it a small integer (MariaDB: TINYINT(1)).
  bool native_booleans = true;
  // The column type of texts of 100 KB and more.
  std::string long_text_type = "text";
  // Why connection_string answered "", for the skip message.
  std::string (*unavailable_reason)() = nullptr;
};

// Test names and messages show the backend by its name.
inline void PrintTo(const Backend& backend, std::ostream* out) { *out << backend.name; }

inline std::string PrintBackend(const ::testing::TestParamInfo<Backend>& info) { return info.param.name; }

class BackendTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override;

  // A table name private to this process, so concurrent test processes on
  // one server do not meet.
  static std::string Table(const std::string& base);
  // Runs a statement that yields no rows; fails the test otherwise.
  void Exec(const std::string& sql);

  ComScope com_;
  std::string conn_;
};

}  // namespace adotest
