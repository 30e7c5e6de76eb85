// Test data sources: a private odbc.ini in a temporary folder, SQLite
// databases made from SQL scripts, and the throwaway PostgreSQL and MariaDB
// servers.
//
// unixODBC reads ODBCINI/ODBCSYSINI once, at the first ODBC call of a
// process, so InitOdbcEnv() (or any function below, which calls it) must run
// before that call. The ini file's contents are read again on every connect,
// so data sources can be added at any time afterwards.
//
// Typical use:
//   std::string dsn = vqtest::AddSqliteDsn("people", "CREATE TABLE p(x int);");
//   ... connect with "DSN=" + dsn ...
//   if (!vqtest::AddPgDsn()) GTEST_SKIP() << vqtest::PgUnavailableReason();
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vqtest {

// Makes the temporary folder, an empty odbc.ini and a copy of the system's
// driver list (odbcinst.ini, with drivers kept loaded: DontDLClose=1) there,
// and points ODBCINI and ODBCSYSINI at them. Child processes inherit both.
// Idempotent and
// thread-safe. The folder is removed when the process ends unless
// VQTEST_KEEP is set.
void InitOdbcEnv();

// The temporary folder and the path of the odbc.ini (to hand to a child
// process through ODBCINI).
std::string TempDir();
std::string OdbcIniPath();

// Creates the SQLite database <TempDir>/<name>.db from sql_script (with the
// sqlite3 command-line tool; a previous file of that name is replaced) and
// adds the section
//   [name] Driver=SQLite3 Database=<file> Timeout=2000
// Returns name. Throws std::runtime_error when the script fails.
std::string AddSqliteDsn(const std::string& name, const std::string& sql_script);

// Adds the DSN "pgtest" when the throwaway PostgreSQL server runs (its
// section is in <build>/pgtest/pgtest.ini, written by pg_server.sh). False
// when it does not run.
bool AddPgDsn();
// Why AddPgDsn() answered false, for a skip message.
std::string PgUnavailableReason();
// True when the CI variable is set: a missing PostgreSQL server then fails
// the tests instead of skipping them.
bool RequirePg();

// The same for the throwaway MariaDB server (DSN "mariatest", its section
// in <build>/mariatest/mariatest.ini, written by maria_server.sh).
bool AddMariaDsn();
std::string MariaUnavailableReason();
// A missing MariaDB server fails the tests when CI is set, as for PostgreSQL.
bool RequireMaria();

// Adds (or replaces) the section [name] with the given body ("Key=value"
// lines) to the odbc.ini. Returns name.
std::string AddDsn(const std::string& name, const std::string& body);

// "Key=value" lines of a data source, in order.
using DsnKeys = std::vector<std::pair<std::string, std::string>>;
// The section [name] of the sample contrib/odbc.ini, of the README's sample
// (its indented [name] block) and of the tests' odbc.ini; empty when absent.
DsnKeys ContribSection(const std::string& name);
DsnKeys ReadmeSection(const std::string& name);
DsnKeys TestSection(const std::string& name);
// Whether a key says where and as whom to connect (server, port, database
// or file, user, password) rather than how the driver behaves.
bool IsPlaceKey(const std::string& key);
// Adds the DSN "sample_<sample>": the sample section of contrib/odbc.ini
// with its place keys taken from the tests' DSN `place_from`. Returns its
// name.
std::string AddSampleDsn(const std::string& sample, const std::string& place_from);

}  // namespace vqtest
