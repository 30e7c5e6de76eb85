// unixODBC converts texts between UTF-16 and a driver's narrow entry points
// as UCS-2, in the character set of the calling thread's LC_CTYPE at the
// time the connection handle is allocated; where that fails it takes one
// byte per UTF-16 unit. So there are two ways to connect:
// - wide: a handle made under a UTF-8 LC_CTYPE, and SQLDriverConnectW. A
//   driver with UTF-16 entry points gets the text as it is; the manager's
//   own reading of it, and its conversions for a narrow driver outside the
//   table, keep every character inside U+FFFF (under the "C" locale they
//   would keep only ASCII).
// - narrow: a handle made under the "C" LC_CTYPE, and SQLDriverConnect with
//   UTF-8, for a driver with DriverTraits::narrow_utf8. The driver gets the
//   bytes as they are; the manager keeps its messages as UTF-16 one unit
//   per byte and gives the bytes back unchanged through SQLGetDiagRec.
//   (Under UTF-8 it would turn every message holding a character beyond
//   U+FFFF into Latin-1.)
// The driver behind a text shows only once connected. The way each text
// needs is remembered, so only the first connect from a text may be made
// twice. A text with characters beyond U+FFFF is connected narrow first,
// as a wide connect would break them on a narrow driver before anything
// could be checked (a file name given to SQLite, say), and is not
// remembered.
#include "platform/ado/driver_connect.h"

#include <locale.h>

#include <mutex>
#include <optional>
#include <unordered_map>

#include "platform/ado/driver_text.h"
#include "platform/ado/driver_traits.h"

namespace zado {
namespace {

enum class Way { kWide, kNarrow };

// The calling thread's LC_CTYPE for the lifetime of the object: UTF-8 for
// a wide connect, "C" for a narrow one.
class CtypeScope {
 public:
  explicit CtypeScope(Way way) {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    static const locale_t plain = newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    const locale_t wanted = way == Way::kWide ? utf8 : plain;
    if (wanted != static_cast<locale_t>(nullptr)) previous_ = uselocale(wanted);
  }
  ~CtypeScope() {
    if (previous_ != static_cast<locale_t>(nullptr)) uselocale(previous_);
  }
  CtypeScope(const CtypeScope&) = delete;
  CtypeScope& operator=(const CtypeScope&) = delete;

 private:
  locale_t previous_ = static_cast<locale_t>(nullptr);
};

// The way each connection text needs, as learnt from its driver. Bounded:
// when full it starts afresh, which costs a second connect per text.
class KnownWays {
 public:
  std::optional<Way> Find(const std::u16string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = ways_.find(text);
    if (found == ways_.end()) return std::nullopt;
    return found->second;
  }
  void Remember(const std::u16string& text, Way way) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ways_.size() >= kMost && ways_.count(text) == 0) ways_.clear();
    ways_[text] = way;
  }

 private:
  static constexpr size_t kMost = 256;
  std::mutex mutex_;
  std::unordered_map<std::u16string, Way> ways_;
};

KnownWays& Ways() {
  static auto* ways = new KnownWays();  // never destroyed: connects may run while the process exits
  return *ways;
}

// A new handle, made and connected the given way (connected or not, the
// caller reads its records and frees it); nullopt when no handle can be
// made (env's records appended) or the text cannot go that way (a record
// saying why).
struct Attempt {
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLRETURN rc = SQL_ERROR;
};

std::optional<Attempt> Connect(SQLHENV env, const std::u16string& text, const std::string& utf8, Way way,
                               SQLULEN login_timeout_seconds, DiagList* records) {
  if (way == Way::kNarrow && utf8.size() > 32767) {  // ODBC takes a 16-bit length
    records->push_back(TextRefused(u"The connection string is longer than 32767 bytes as UTF-8; no connection "
                                   u"was made."));
    return std::nullopt;
  }
  CtypeScope ctype(way);
  Attempt attempt;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &attempt.dbc))) {
    ReadDiagnostics(SQL_HANDLE_ENV, env, records);
    return std::nullopt;
  }
  SQLSetConnectAttrW(attempt.dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(login_timeout_seconds), 0);
  SQLSMALLINT out_length = 0;
  if (way == Way::kNarrow) {
    std::string in = utf8;  // the driver manager wants a writable text
    attempt.rc = SQLDriverConnect(attempt.dbc, nullptr, reinterpret_cast<SQLCHAR*>(in.data()),
                                  static_cast<SQLSMALLINT>(in.size()), nullptr, 0, &out_length, SQL_DRIVER_NOPROMPT);
  } else {
    std::u16string in = text;
    attempt.rc = SQLDriverConnectW(attempt.dbc, nullptr, reinterpret_cast<SQLWCHAR*>(in.data()),
                                   static_cast<SQLSMALLINT>(in.size()), nullptr, 0, &out_length, SQL_DRIVER_NOPROMPT);
  }
  return attempt;
}

void Drop(SQLHDBC dbc, bool connected) {
  if (connected) SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
}

}  // namespace

SQLRETURN ConnectDriver(SQLHENV env, const std::u16string& text, SQLULEN login_timeout_seconds, SQLHDBC* dbc,
                        DiagList* records) {
  *dbc = SQL_NULL_HDBC;
  std::string utf8;
  if (!ToUtf8(text, &utf8)) {
    records->push_back(TextRefused(u"The connection string is not well-formed UTF-16 (it holds an unpaired "
                                   u"surrogate); no connection was made."));
    return SQL_ERROR;
  }
  const bool beyond_bmp = HasSurrogates(text);  // well-formed, so these are pairs
  Way way = beyond_bmp ? Way::kNarrow : Ways().Find(text).value_or(Way::kWide);
  std::optional<Attempt> attempt = Connect(env, text, utf8, way, login_timeout_seconds, records);
  if (!attempt) return SQL_ERROR;
  if (SQL_SUCCEEDED(attempt->rc)) {
    const DriverTraits& traits = DriverTraitsOf(attempt->dbc);
    const Way needed = traits.narrow_utf8 ? Way::kNarrow : Way::kWide;
    if (!beyond_bmp) Ways().Remember(text, needed);
    if (needed != way) {
      Drop(attempt->dbc, true);
      if (beyond_bmp && !traits.wide_beyond_bmp) {
        records->push_back(TextRefused(u"The connection string holds characters beyond U+FFFF, which this ODBC "
                                       u"driver cannot take whole; the connection was not kept."));
        return SQL_ERROR;
      }
      way = needed;
      attempt = Connect(env, text, utf8, way, login_timeout_seconds, records);
      if (!attempt) return SQL_ERROR;
    }
  }
  ReadDiagnostics(SQL_HANDLE_DBC, attempt->dbc, records, way == Way::kNarrow);
  if (!SQL_SUCCEEDED(attempt->rc)) {
    Drop(attempt->dbc, false);
    return attempt->rc;
  }
  *dbc = attempt->dbc;
  return attempt->rc;
}

}  // namespace zado
