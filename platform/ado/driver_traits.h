// The few things this layer does differently for one ODBC driver, in one
// table keyed by the driver's file name (SQLGetInfo(SQL_DRIVER_NAME)).
#pragma once

#include "platform/ado/odbc_api.h"

#include <string_view>

namespace zado {

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
};

// The traits of the driver behind an open connection: looked up once per driver name
// (SQLGetInfo(SQL_DRIVER_NAME), e.g. "libsqlite3odbc.so") and kept for the process.
const DriverTraits& DriverTraitsOf(SQLHDBC dbc);
// The table's entry for a driver name; the defaults for a name the table does not hold.
DriverTraits DriverTraitsForName(std::string_view driver_name);

}  // namespace zado
