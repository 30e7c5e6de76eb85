#include "platform/ado/driver_traits.h"

#include <algorithm>
#include <iterator>
#include <mutex>
#include <string>
#include <unordered_map>

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
    // It has no UTF-16 entry points, so the driver manager's UCS-2
    // conversion broke every character beyond U+FFFF in statements (stored
    // as stray bytes) and in column names and error texts read back. The
    // driver speaks UTF-8 and passes narrow texts on untouched.
    // A session changes only through statements that say so, and most of
    // it is cheap to check afterwards; checking all its pragmas costs about
    // as much as a new connection (0.6 ms in SQLite alone), so a PRAGMA
    // closes the connection instead.
    {"sqlite3odbc.so",
     {.max_rows_attribute = true,
      .values_keep_declared_types = false,
      .narrow_utf8 = true,
      .session_reset = SessionReset::kWatchStatements}},
    // PostgreSQL (both builds of the driver): any statement may change the
    // session through a function (set_config, pg_advisory_lock, a view
    // calling either), so every reuse discards it all: two round trips,
    // DISCARD ALL and the settings made at connect. The time limit is kept
    // in the session and restored with it: the driver sets
    // statement_timeout for SQL_ATTR_QUERY_TIMEOUT only when the value
    // differs from the last it sent, so after DISCARD ALL it would believe
    // a limit the session no longer has.
    {"psqlodbcw.so", {.session_reset = SessionReset::kDiscardAll, .statement_timeout_in_session = true}},
    {"psqlodbca.so", {.session_reset = SessionReset::kDiscardAll, .statement_timeout_in_session = true}},
    // MariaDB Connector/ODBC: reading the rest of a cut bound value with
    // SQLGetData gives another row's value, an empty or shortened text, or
    // fails ("Ansi to Unicode conversion error"); SQLSetPos within a row
    // array does not move to the row asked for.
    // Not pooled: the server resets a session only on a protocol command
    // the driver (3.1) never sends; SQL_ATTR_RESET_CONNECTION is accepted
    // and changes nothing (temporary tables, @variables and SET SESSION
    // values stay), and no statement does it.
    {"libmaodbc.so", {.reread_bound_values = false, .session_reset = SessionReset::kNone}},
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

// Whether a character beyond U+FFFF passes the UTF-16 entry points whole:
// SQLNativeSqlW hands the text to the driver and back without running it.
// A driver that cannot say is taken at ODBC's word.
bool WideKeepsBeyondBmp(SQLHDBC dbc) {
  static const char16_t kLiteral[] = u"'\U0001F600'";
  std::u16string probe = u"SELECT ";
  probe += kLiteral;
  SQLWCHAR out[64] = {};
  SQLINTEGER length = 0;
  const SQLRETURN rc = SQLNativeSqlW(dbc, reinterpret_cast<SQLWCHAR*>(probe.data()),
                                     static_cast<SQLINTEGER>(probe.size()), out, 64, &length);
  if (!SQL_SUCCEEDED(rc)) return true;
  const size_t units = length < 0 ? 0 : std::min<size_t>(static_cast<size_t>(length), 63);
  return std::u16string_view(reinterpret_cast<const char16_t*>(out), units).find(kLiteral) !=
         std::u16string_view::npos;
}

}  // namespace

DriverTraits DriverTraitsForName(std::string_view driver_name) {
  const std::string_view base = BaseName(driver_name);
  for (const Entry& entry : kTable)
    if (BaseName(entry.driver) == base) return entry.traits;
  return {};
}

const DriverTraits& DriverTraitsOf(SQLHDBC dbc) {
  static const DriverTraits defaults;
  const std::string name = DriverName(dbc);
  if (name.empty()) return defaults;
  static std::mutex mutex;
  // Never destroyed: statements may still run while the process exits.
  static auto* known = new std::unordered_map<std::string, DriverTraits>();
  std::lock_guard<std::mutex> lock(mutex);
  const auto found = known->find(name);
  if (found != known->end()) return found->second;
  DriverTraits traits = DriverTraitsForName(name);
  if (!traits.narrow_utf8) traits.wide_beyond_bmp = WideKeepsBeyondBmp(dbc);
  // Elements of an unordered_map stay where they are when it grows.
  return known->emplace(name, traits).first->second;
}

}  // namespace zado
