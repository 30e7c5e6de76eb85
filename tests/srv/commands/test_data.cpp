#include "tests/srv/commands/test_data.h"

#include <unistd.h>

#include <atomic>
#include <stdexcept>

#include "tests/support/odbc_env.h"

namespace vqtest {

const char* const kFixtureSql = R"sql(
CREATE TABLE pairs (x TEXT, y TEXT);
INSERT INTO pairs VALUES ('a', 'b');
INSERT INTO pairs VALUES ('c', 'd');
CREATE TABLE measures (id INTEGER PRIMARY KEY, v DOUBLE);
INSERT INTO measures VALUES (1, 1234.5), (2, -1234.56789), (3, 100.0),
  (4, 3.14159265358979), (5, 1e20), (6, -0.5), (7, 0.0), (8, 1e300);
CREATE TABLE mixed (id INTEGER PRIMARY KEY, i INTEGER, t TEXT, d DOUBLE);
INSERT INTO mixed VALUES (1, 7, '', 2.5), (2, 7, NULL, 2.5), (3, 8, 'x', NULL);
CREATE TABLE scratch (k INTEGER, v TEXT);
)sql";

namespace {

std::string NewName() {
  static std::atomic<int> counter{0};
  return "cmd" + std::to_string(getpid()) + "_" + std::to_string(++counter);
}

}  // namespace

struct SqliteSource::Impl {
  std::string dsn;
  std::string ini;
  std::string database;
};

SqliteSource::SqliteSource(const std::string& setup_sql) : impl_(std::make_unique<Impl>()) {
  impl_->dsn = AddSqliteDsn(NewName(), setup_sql);
  impl_->ini = OdbcIniPath();
  impl_->database = TempDir() + "/" + impl_->dsn + ".db";
}

SqliteSource::~SqliteSource() = default;

const std::string& SqliteSource::Dsn() const { return impl_->dsn; }
const std::string& SqliteSource::OdbcIni() const { return impl_->ini; }
const std::string& SqliteSource::Database() const { return impl_->database; }

std::string SqliteSource::MakeDatabase(const std::string& setup_sql) const {
  const std::string name = AddSqliteDsn(NewName(), setup_sql);
  return TempDir() + "/" + name + ".db";
}

std::string PgOdbcIni(std::string& why_not) {
  if (AddPgDsn()) return OdbcIniPath();
  why_not = PgUnavailableReason();
  return "";
}

std::string MariaOdbcIni(std::string& why_not) {
  if (AddMariaDsn()) return OdbcIniPath();
  why_not = MariaUnavailableReason();
  return "";
}

}  // namespace vqtest
