// The data the command tests run on: SQLite data sources made for the test
// run (through the shared test support), and the DSNs "pgtest" and
// "mariatest" of the throwaway servers.
#pragma once

#include <memory>
#include <string>

namespace vqtest {

// The tables every SQLite test suite sees:
//   pairs(x TEXT, y TEXT): ('a','b'), ('c','d')
//   measures(id INTEGER, v DOUBLE): the number-path examples, in id order
//   mixed(id INTEGER, i INTEGER, t TEXT, d DOUBLE): (1, 7, '', 2.5),
//     (2, 7, NULL, 2.5), (3, 8, 'x', NULL)
//   scratch(k INTEGER, v TEXT): empty, for statements that change data
extern const char* const kFixtureSql;

// A temporary SQLite database and its DSN, written to one odbc.ini.
class SqliteSource {
 public:
  explicit SqliteSource(const std::string& setup_sql = kFixtureSql);
  ~SqliteSource();
  SqliteSource(const SqliteSource&) = delete;
  SqliteSource& operator=(const SqliteSource&) = delete;

  const std::string& Dsn() const;
  const std::string& OdbcIni() const;
  // Path of the database file.
  const std::string& Database() const;
  // Another database file made from setup_sql (it gets a DSN too).
  std::string MakeDatabase(const std::string& setup_sql) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The odbc.ini holding the DSN "pgtest" of the pg fixture; empty, with the
// reason in why_not, when the PostgreSQL server does not run.
std::string PgOdbcIni(std::string& why_not);
// The same for the DSN "mariatest" of the maria fixture.
std::string MariaOdbcIni(std::string& why_not);

}  // namespace vqtest
