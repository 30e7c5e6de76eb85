// The ODBC work of one request, shared by the reference program and its test.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>

namespace bench {

// An ODBC 3 environment handle, freed on destruction.
class Environment {
 public:
  Environment();
  ~Environment();
  Environment(const Environment&) = delete;
  Environment& operator=(const Environment&) = delete;
  SQLHENV Handle() const { return env_; }

 private:
  SQLHENV env_ = SQL_NULL_HENV;
};

// A connection made with "DSN=<name>", disconnected and freed on destruction.
class Connection {
 public:
  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  // False (with the diagnostics on standard error) when the connect fails.
  bool Open(SQLHENV env, const std::string& dsn);
  SQLHDBC Handle() const { return connected_ ? dbc_ : SQL_NULL_HDBC; }

 private:
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
};

// Executes sql and appends every cell as text, cells joined by "|" and a
// null as nothing. With names, every column name is read too (and appended
// before the rows, each followed by "="). False on any failure.
bool RunStatement(SQLHDBC dbc, const std::string& sql, bool names, std::string& out);

}  // namespace bench
