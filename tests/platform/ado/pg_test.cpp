// The shared cases on the throwaway PostgreSQL server ("pgtest").
#include "tests/platform/ado/backend.h"
#include "tests/support/odbc_env.h"

namespace adotest {
namespace {

std::string PgConnection() {
  static const bool available = vqtest::AddPgDsn();
  return available ? "DSN=pgtest" : "";
}

INSTANTIATE_TEST_SUITE_P(Postgres, BackendTest, ::testing::Values(Backend{"postgres", &PgConnection, true}),
                         PrintBackend);

}  // namespace
}  // namespace adotest
