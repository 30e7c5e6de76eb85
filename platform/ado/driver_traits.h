// The few things this layer does differently for one ODBC driver, in one
// table keyed by the driver's file name (SQLGetInfo(SQL_DRIVER_NAME)).
#pragma once

#include "platform/ado/odbc_api.h"

#include <string_view>

namespace zado {

// How a connection handed back to the pool is returned to the state of a new
// connection before it serves another request (see session_reset.h).
enum class SessionReset : unsigned char {
  // No complete way is known: the connection is closed instead of pooled.
  kNone,
  // Session state can only change through statements that name it (PRAGMA,
  // ATTACH, TEMP, BEGIN ...): statements are watched as they are run, and
  // a connection whose statements did so is checked, rolled back or closed.
  kWatchStatements,
  // Any statement may change the session: every reuse discards all it
  // holds (DISCARD ALL) and restores the settings it had when it was made.
  kDiscardAll,
};

// What this layer does differently for one ODBC driver; every field's default is what ODBC promises.
struct DriverTraits {
  // MaxRecords is also handed to the driver as SQL_ATTR_MAX_ROWS. Only for a
  // driver that otherwise reads a whole result before the first row and
  // honours the attribute without touching the statement text: some drivers
  // append "LIMIT n" to the statement, which breaks table definitions,
  // INSERTs and statements with a LIMIT of their own. Without it the layer
  // alone stops fetching after MaxRecords rows.
  bool max_rows_attribute = false;
  // SQLGetData on a bound column after SQLFetch (SQL_GD_BOUND) reads the
  // whole value when it did not fit its buffer, and SQLSetPos positions on
  // any row of a row array. false: results that have a column whose values
  // may not fit a bound buffer are read row by row with SQLGetData.
  bool reread_bound_values = true;
  // Every value of a column has the column's described type. false: a column
  // may hold a value of any type whatever its declaration (SQLite keeps
  // 64-bit integers, fractions and texts in INTEGER and SMALLINT columns),
  // so integer columns are read as text and each value keeps the form it
  // has: a whole number as an integer, anything else as its text.
  bool values_keep_declared_types = true;
  // Texts travel as UTF-8 through the driver's narrow entry points:
  // connection strings, statements, column names and error texts (values
  // are still read as UTF-16, which such a driver converts itself). For a
  // driver without UTF-16 entry points unixODBC converts UTF-16 as UCS-2 and
  // turns each character beyond U+FFFF into two stray bytes; a driver that
  // speaks UTF-8 takes the bytes whole instead.
  bool narrow_utf8 = false;
  // The UTF-16 entry points carry characters beyond U+FFFF whole. Not a
  // table entry: found out once per driver with SQLNativeSqlW, which runs
  // nothing. Where it is false, a text holding such characters is refused
  // rather than handed on broken.
  bool wide_beyond_bmp = true;
  // How the session is reset for reuse; a driver outside the table is not
  // pooled.
  SessionReset session_reset = SessionReset::kNone;
  // The statement time limit is kept in the session (PostgreSQL's
  // statement_timeout: set when it changes, brought back by the reset)
  // instead of SQL_ATTR_QUERY_TIMEOUT, which the driver carries out by a SET
  // statement_timeout sent only when the value differs from the last it
  // sent: a reset behind its back would leave it believing a limit the
  // session no longer has. Only with SessionReset::kDiscardAll, whose reset
  // takes back whatever a client set.
  bool statement_timeout_in_session = false;
};

// The traits of the driver behind an open connection: looked up once per driver name
// (SQLGetInfo(SQL_DRIVER_NAME), e.g. "sqlite3odbc.so") and kept for the process.
const DriverTraits& DriverTraitsOf(SQLHDBC dbc);
// The table's entry for a driver name; the defaults for a name the table does not hold.
DriverTraits DriverTraitsForName(std::string_view driver_name);

}  // namespace zado
