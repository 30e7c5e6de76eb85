// Times reading a 100,000-row SQLite table through a Recordset: the Open
// (execute and fetch every row) and a walk that reads every Value. Prints
// the figures; asserts nothing about them.
// Usage: ado_fetch_timing [rows [connection-string]]; with a connection
// string the table is made there (and dropped first) instead of in SQLite.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/platform/ado/ado_test_util.h"
#include "tests/support/odbc_env.h"

namespace {

using namespace adotest;
using Clock = std::chrono::steady_clock;

// CPU time of the process (user and system), which the other work on a
// shared machine disturbs less than wall time.
double CpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

double Ms(Clock::time_point from) {
  return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

std::string MakeScript(long rows) {
  return "CREATE TABLE big(id INTEGER, name TEXT, price REAL, note TEXT, qty INTEGER);"
         "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < " +
         std::to_string(rows) +
         ") INSERT INTO big SELECT i, 'name-' || i, i * 0.25, CASE WHEN i % 3 = 0 THEN NULL ELSE 'note ' || i END,"
         " i % 100 FROM c;";
}

void Run(const std::string& label, const std::string& connection, long rows) {
  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  const auto start = Clock::now();
  const double cpu_start = CpuMs();
  if (OpenRecordset(rs.get(), "SELECT id, name, price, note, qty FROM big", connection) != S_OK) {
    std::printf("%s: open failed: %s\n", label.c_str(), TakeErrorInfo().c_str());
    return;
  }
  const double open_ms = Ms(start);
  const double open_cpu = CpuMs() - cpu_start;
  LONG count = 0;
  rs->get_RecordCount(&count);
  Ptr<Fields> fields;
  rs->get_Fields(fields.Out());
  Ptr<Field> f[5];
  for (LONG i = 0; i < 5; ++i) fields->get_Item(Var::I4(i).v, f[i].Out());
  const auto walk = Clock::now();
  long cells = 0;
  VARIANT_BOOL eof = VARIANT_FALSE;
  while (rs->get_EOF(&eof) == S_OK && !eof) {
    for (auto& field : f) {
      Var v;
      if (field->get_Value(&v.v) == S_OK) ++cells;
    }
    rs->MoveNext();
  }
  const double walk_ms = Ms(walk);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%-22s rows %ld (expected %ld)  open+fetch %7.1f ms (cpu %7.1f ms)  read values %8.1f ms  cells %ld  peak RSS %ld MiB\n",
              label.c_str(), static_cast<long>(count), rows, open_ms, open_cpu, walk_ms, cells, usage.ru_maxrss / 1024);
}

}  // namespace

bool Exec(const std::string& sql, const std::string& connection) {
  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  if (OpenRecordset(rs.get(), sql, connection) == S_OK) return true;
  std::printf("%s: %s\n", sql.substr(0, 60).c_str(), TakeErrorInfo().c_str());
  return false;
}

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 100000;
  ComScope com;
  vqtest::InitOdbcEnv();
  if (argc > 2) {
    const std::string connection = argv[2];
    const std::string script = MakeScript(rows);
    const size_t split = script.find(';') + 1;
    Exec("DROP TABLE IF EXISTS big", connection);
    if (!Exec(script.substr(0, split), connection) || !Exec(script.substr(split), connection)) return 1;
    for (int i = 0; i < 3; ++i) Run("given connection", connection, rows);
    return 0;
  }
  const std::string dsn = vqtest::AddSqliteDsn("vq_timing", MakeScript(rows));
  const std::string db = vqtest::TempDir() + "/vq_timing.db";
  for (int i = 0; i < 3; ++i) {
    Run("DSN (whole result)", "DSN=" + dsn, rows);
    Run("StepAPI=1", "Driver=SQLite3;Database=" + db + ";StepAPI=1", rows);
  }
  return 0;
}
