#include "platform/ado/driver_traits.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <unordered_map>

namespace zado {
namespace {

// The name the driver behind dbc reports; "" when it reports none (for
// instance when dbc is not connected).
std::string DriverName(SQLHDBC dbc) {
  SQLWCHAR name[128] = {};
  SQLSMALLINT bytes = 0;
  if (!SQL_SUCCEEDED(SQLGetInfoW(dbc, SQL_DRIVER_NAME, name, sizeof name, &bytes))) return "";
  std::string out;
  for (size_t i = 0; i < sizeof name / sizeof name[0] && name[i] != 0; ++i)
    out.push_back(name[i] < 0x80 ? static_cast<char>(name[i]) : '?');  // file names of drivers are ASCII
  return out;
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
  DriverTraits traits;
  // The SQLite 3 driver has no UTF-16 entry points, so the driver manager's
  // UCS-2 conversion broke every character beyond U+FFFF in statements
  // (stored as stray bytes) and in column names and error texts read back.
  // The driver speaks UTF-8 and passes narrow texts on untouched.
  if (driver_name == "sqlite3odbc.so") traits.narrow_utf8 = true;
  return traits;
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
