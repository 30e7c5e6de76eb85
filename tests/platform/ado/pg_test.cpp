// The shared cases on the throwaway PostgreSQL server ("pgtest").
#include "tests/platform/ado/backend.h"
#include "tests/support/odbc_env.h"

namespace adotest {
namespace {

std::string PgConnection() {
  static const bool available = vqtest::AddPgDsn();
  return available ? "DSN=pgtest" : "";
}

INSTANTIATE_TEST_SUITE_P(Postgres, BackendTest,
                         ::testing::Values(Backend{"postgres", &PgConnection, true, true, "text",
                                                   &vqtest::PgUnavailableReason}),
                         PrintBackend);

TEST(PgSample, TheSampleDataSourceIsTheOneTested) {
  if (PgConnection().empty()) {
    if (vqtest::RequirePg()) FAIL() << vqtest::PgUnavailableReason();
    GTEST_SKIP() << vqtest::PgUnavailableReason();
  }
  ComScope com;
  ExpectSampleIsTheTestsDsn("pg", "pg", "pgtest");
}

}  // namespace
}  // namespace adotest
