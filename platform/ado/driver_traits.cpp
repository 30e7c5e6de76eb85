#include "platform/ado/driver_traits.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <mutex>
#include <string>

namespace zado {
namespace {

struct Entry {
  std::string_view driver;  // file name as SQL_DRIVER_NAME gives it
  DriverTraits traits;
};

// One entry per driver that needs something other than the defaults; each
// says why. Names are compared without their folder and "lib" prefix, so
// "libsqlite3odbc.so" and "sqlite3odbc.so" are one driver.
const Entry kTable[] = {
    // SQLite: without the attribute the driver reads the whole result into
    // its own memory before the first row unless the data source sets
    // StepAPI=1 (1,000,000 rows: 5 s and 120 MB for "query" with P3 = 1,
    // against no time with it). The driver stops reading at the limit and
    // runs the statement text unchanged.
    // It describes columns by their declared type (INTEGER as 32-bit,
    // SMALLINT as 16-bit), while SQLite keeps whatever value was stored:
    // read as integers of that width, 4294967297 came back as 1 and 'abc'
    // as null.
    {"sqlite3odbc.so", {.max_rows_attribute = true, .values_keep_declared_types = false}},
    // MariaDB Connector/ODBC: reading the rest of a cut bound value with
    // SQLGetData gives another row's value, an empty or shortened text, or
    // fails ("Ansi to Unicode conversion error"); SQLSetPos within a row
    // array does not move to the row asked for.
    {"libmaodbc.so", {.reread_bound_values = false}},
};

// "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so" -> "sqlite3odbc.so"
std::string_view BaseName(std::string_view name) {
  const size_t slash = name.find_last_of('/');
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  if (name.substr(0, 3) == "lib") name.remove_prefix(3);
  return name;
}

std::string DriverName(SQLHDBC dbc) {
  SQLWCHAR name[512] = {};
  SQLSMALLINT bytes = 0;
  if (!SQL_SUCCEEDED(SQLGetInfoW(dbc, SQL_DRIVER_NAME, name, sizeof name, &bytes)) || bytes < 0) return {};
  std::string narrow;
  const size_t units = std::min(static_cast<size_t>(bytes) / sizeof(SQLWCHAR), std::size(name) - 1);
  for (size_t i = 0; i < units && name[i] != 0; ++i)
    narrow.push_back(name[i] < 0x80 ? static_cast<char>(name[i]) : '?');  // file names are ASCII
  return narrow;
}

}  // namespace

DriverTraits DriverTraitsForName(std::string_view driver_name) {
  const std::string_view base = BaseName(driver_name);
  for (const Entry& entry : kTable)
    if (BaseName(entry.driver) == base) return entry.traits;
  return {};
}

const DriverTraits& DriverTraitsOf(SQLHDBC dbc) {
  static std::mutex mutex;
  static std::map<std::string, DriverTraits, std::less<>> known;  // entries never move
  const std::string name = DriverName(dbc);
  std::lock_guard<std::mutex> lock(mutex);
  auto found = known.find(name);
  if (found == known.end()) found = known.emplace(name, DriverTraitsForName(name)).first;
  return found->second;
}

}  // namespace zado
