// The three databases the command tests run on (a SQLite file and the
// throwaway PostgreSQL and MariaDB servers), each with its own command-line
// client, whose output is what the service's replies are checked against.
#pragma once

#include <string>
#include <vector>

namespace vqtest {

// The rows a database's own client prints for an SQL text, one line per
// row, fields separated by "|" (the first line holds the column names when
// header is true). Fails the test when the client cannot run.
using ClientLines = std::vector<std::string>;

struct SqliteBackend {
  static constexpr const char* kName = "sqlite";
  static constexpr bool kServer = false;
  // A binary column type, and a binary literal of hex digits put for %s.
  static constexpr const char* kBlobType = "BLOB";
  static constexpr const char* kBlobLiteral = "x'%s'";
  // A statement making the table %T of 1,000,000 rows (id, t, d).
  static constexpr const char* kBigTable =
      "CREATE TABLE %T AS WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 1000000)"
      " SELECT i AS id, 'text ' || i AS t, i * 0.5 AS d FROM c";
  // The odbc.ini holding the data source, and its name; "" with the reason
  // in why_not when the database is not there.
  static std::string OdbcIni(std::string& dsn, std::string& why_not);
  static ClientLines Client(const std::string& sql, bool header = false);  // sqlite3
};

struct PgBackend {
  static constexpr const char* kName = "postgres";
  static constexpr bool kServer = true;
  static constexpr const char* kBlobType = "bytea";
  static constexpr const char* kBlobLiteral = "decode('%s', 'hex')";
  static constexpr const char* kBigTable =
      "CREATE TABLE %T AS SELECT i AS id, 'text ' || i AS t, i * 0.5 AS d FROM generate_series(1, 1000000) i";
  static std::string OdbcIni(std::string& dsn, std::string& why_not);
  static ClientLines Client(const std::string& sql, bool header = false);  // psql
};

struct MariaBackend {
  static constexpr const char* kName = "mariadb";
  static constexpr bool kServer = true;
  static constexpr const char* kBlobType = "LONGBLOB";
  static constexpr const char* kBlobLiteral = "x'%s'";
  // None: the driver reads a whole result before its first row whatever it
  // is told, so one record of a large table costs the whole result.
  static constexpr const char* kBigTable = nullptr;
  static std::string OdbcIni(std::string& dsn, std::string& why_not);
  static ClientLines Client(const std::string& sql, bool header = false);  // mariadb
};

}  // namespace vqtest
