// The shared cases on the throwaway PostgreSQL server ("pgtest").
#include "tests/platform/ado/backend.h"
#include "tests/platform/ado/binary_rows.h"
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

TEST(PgValues, ByteaArrivesWholeWithItsByteCount) {
  const std::string conn = PgConnection();
  if (conn.empty()) {
    if (vqtest::RequirePg()) FAIL() << vqtest::PgUnavailableReason();
    GTEST_SKIP() << vqtest::PgUnavailableReason();
  }
  ComScope com;
  EXPECT_EQ(CheckBinaryRows("SELECT id, b, upper(encode(b, 'hex')) FROM (VALUES"
                            " (1, decode(repeat('00ff41a5', 250000), 'hex')), (2, ''::bytea),"
                            " (3, NULL::bytea), (4, '\\x00ff41'::bytea)) AS t(id, b) ORDER BY id",
                            conn),
            4);
}

}  // namespace
}  // namespace adotest
