#include "platform/ado/session_reset.h"

#include <new>
#include <string>
#include <vector>

#include "platform/ado/driver_text.h"

namespace zado {
namespace {

// Frees the statement handle on every way out.
class Stmt {
 public:
  explicit Stmt(SQLHDBC dbc) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt_))) stmt_ = SQL_NULL_HSTMT;
  }
  ~Stmt() {
    if (stmt_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  SQLHSTMT get() const { return stmt_; }

 private:
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
};

bool Execute(const Stmt& stmt, const std::u16string& sql, const DriverTraits& traits) {
  if (stmt.get() == SQL_NULL_HSTMT) return false;
  DiagList ignored;
  const SQLRETURN rc = ExecDirectWhole(stmt.get(), sql, traits, &ignored);
  return SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA;
}

// Runs sql; true when every statement in it succeeded.
bool Run(SQLHDBC dbc, const std::u16string& sql) {
  Stmt stmt(dbc);
  return Execute(stmt, sql, DriverTraitsOf(dbc));
}

// The first value of the first row of sql as text ("" for a null).
bool QueryText(SQLHDBC dbc, const std::u16string& sql, std::u16string* out) {
  Stmt stmt(dbc);
  if (!Execute(stmt, sql, DriverTraitsOf(dbc)) || !SQL_SUCCEEDED(SQLFetch(stmt.get()))) return false;
  out->clear();
  std::vector<SQLWCHAR> buffer(1024);
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(stmt.get(), 1, SQL_C_WCHAR, buffer.data(),
                                    static_cast<SQLLEN>(buffer.size() * sizeof(SQLWCHAR)), &indicator);
    if (rc == SQL_NO_DATA) return true;
    if (!SQL_SUCCEEDED(rc)) return false;
    if (indicator == SQL_NULL_DATA) return true;
    // Whole when it fit; else the buffer less its terminating NUL.
    const size_t units = indicator != SQL_NO_TOTAL && static_cast<size_t>(indicator) < buffer.size() * sizeof(SQLWCHAR)
                             ? static_cast<size_t>(indicator) / sizeof(SQLWCHAR)
                             : buffer.size() - 1;
    out->append(reinterpret_cast<const char16_t*>(buffer.data()), units);
    if (rc == SQL_SUCCESS) return true;
  }
}

bool QueryInteger(SQLHDBC dbc, const std::u16string& sql, long long* value) {
  Stmt stmt(dbc);
  if (!Execute(stmt, sql, DriverTraitsOf(dbc)) || !SQL_SUCCEEDED(SQLFetch(stmt.get()))) return false;
  SQLLEN indicator = 0;
  return SQL_SUCCEEDED(SQLGetData(stmt.get(), 1, SQL_C_SBIGINT, value, 0, &indicator)) &&
         indicator != SQL_NULL_DATA;
}

// PostgreSQL: the statements that bring back what DISCARD ALL takes from a
// session beyond the state of its connection's start: the settings,
// session authorization and role made at connect (in that order: a role
// may lack the right to make the settings). The driver makes settings of
// its own at connect (DateStyle, extra_float_digits) and the data source
// may add more. Plain SET statements where they can be (a SELECT costs
// more than the rest of the reset); a list of names (search_path and the
// like, and those of extensions) through set_config, which takes the list
// as the session holds it, where SET would take it for one quoted name.
constexpr char16_t kPgRestoreQuery[] =
    u"WITH made AS (SELECT name, setting, name IN ('search_path', 'temp_tablespaces', 'session_preload_libraries', "
    u"'local_preload_libraries', 'shared_preload_libraries') OR name LIKE '%.%' AS list "
    u"FROM pg_settings WHERE source = 'session') "
    u"SELECT coalesce(string_agg(s, '; ' ORDER BY o, s), '') FROM ("
    u"SELECT 1 AS o, format('SET %I = %L', name, setting) AS s FROM made WHERE NOT list "
    u"UNION ALL SELECT 2, 'SELECT ' || string_agg(format('set_config(%L, %L, false)', name, setting), ', ') "
    u"FROM made WHERE list HAVING count(*) > 0 "
    u"UNION ALL SELECT 3, format('SET SESSION AUTHORIZATION %I', session_user) "
    u"WHERE session_user <> (SELECT usename FROM pg_stat_activity WHERE pid = pg_backend_pid()) "
    u"UNION ALL SELECT 4, format('SET ROLE %I', current_setting('role')) WHERE current_setting('role') <> 'none'"
    u") AS restore";

// SQLite: what a new connection has none of: temporary objects, attached
// databases.
constexpr char16_t kSqliteLeftovers[] =
    u"SELECT (SELECT count(*) FROM temp.sqlite_master)"
    u" + (SELECT count(*) FROM pragma_database_list WHERE name NOT IN ('main', 'temp'))";

std::u16string TimeoutStatement(long long ms) {
  std::u16string text = u"SET statement_timeout = ";
  for (char c : std::to_string(ms)) text.push_back(static_cast<char16_t>(c));
  return text;
}

bool IsWordUnit(char16_t c) {
  const char16_t lower = c | 0x20;
  return c >= 0x80 || (c >= u'0' && c <= u'9') || (lower >= u'a' && lower <= u'z') || c == u'_' || c == u'$';
}

struct Watched {
  std::u16string_view word;
  unsigned change;
};

constexpr Watched kWatchedWords[] = {
    {u"begin", SessionState::kTransaction},   {u"savepoint", SessionState::kTransaction},
    {u"temp", SessionState::kTemporary},      {u"temporary", SessionState::kTemporary},
    {u"attach", SessionState::kAttached},     {u"detach", SessionState::kAttached},
    {u"pragma", SessionState::kUnchecked},    {u"load_extension", SessionState::kUnchecked},
};

unsigned ChangeOfWord(std::u16string_view word) {
  constexpr size_t kLongest = 14;  // "load_extension"
  if (word.size() > kLongest) return 0;
  char16_t lower[kLongest];
  for (size_t i = 0; i < word.size(); ++i)
    lower[i] = word[i] >= u'A' && word[i] <= u'Z' ? static_cast<char16_t>(word[i] | 0x20) : word[i];
  const std::u16string_view folded(lower, word.size());
  for (const Watched& w : kWatchedWords)
    if (w.word == folded) return w.change;
  return 0;
}

}  // namespace

SessionState SessionState::AtConnect(SQLHDBC dbc) {
  SessionState state;
  try {
    switch (DriverTraitsOf(dbc).session_reset) {
      case SessionReset::kNone:
        break;
      case SessionReset::kWatchStatements:
        state.how_ = SessionReset::kWatchStatements;
        break;
      case SessionReset::kDiscardAll: {
        std::u16string restore;
        if (!QueryText(dbc, kPgRestoreQuery, &restore)) break;
        state.how_ = SessionReset::kDiscardAll;
        state.restore_ = std::move(restore);
        state.holds_timeout_ = DriverTraitsOf(dbc).statement_timeout_in_session;
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    return SessionState();
  }
  return state;
}

void SessionState::NoteStatement(std::u16string_view sql) {
  ran_statement_ = true;
  if (how_ == SessionReset::kWatchStatements) changes_ |= WatchedChanges(sql);
}

bool SessionState::HoldTimeout(SQLHDBC dbc, long seconds) {
  if (!holds_timeout_ || seconds < 0) return false;
  const long long ms = static_cast<long long>(seconds) * 1000;
  // 0 is no limit: a session that never had one keeps its own.
  if (ms == timeout_ms_ || (ms == 0 && timeout_ms_ < 0)) return true;
  try {
    if (!Run(dbc, TimeoutStatement(ms))) return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  timeout_ms_ = ms;
  return true;
}

unsigned SessionState::WatchedChanges(std::u16string_view sql) {
  unsigned changes = 0;
  size_t i = 0;
  while (i < sql.size()) {
    if (!IsWordUnit(sql[i])) {
      ++i;
      continue;
    }
    const size_t start = i;
    while (i < sql.size() && IsWordUnit(sql[i])) ++i;
    changes |= ChangeOfWord(sql.substr(start, i - start));
  }
  return changes;
}

bool SessionState::Reset(SQLHDBC dbc) {
  bool ok = false;
  try {
    switch (how_) {
      case SessionReset::kNone:
        break;
      case SessionReset::kWatchStatements:
        ok = ResetWatched(dbc);
        break;
      case SessionReset::kDiscardAll:
        ok = ResetDiscardAll(dbc);
        break;
    }
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  changes_ = 0;
  ran_statement_ = false;
  return ok;
}

bool SessionState::ResetWatched(SQLHDBC dbc) {
  if (changes_ == 0) return true;
  if (changes_ & kUnchecked) return false;
  if (changes_ & kTransaction) {
    // Rolled back if one is open; if none is, BEGIN shows it.
    if (!Run(dbc, u"ROLLBACK") && !(Run(dbc, u"BEGIN") && Run(dbc, u"ROLLBACK"))) return false;
  }
  if (changes_ & (kTemporary | kAttached)) {
    long long leftovers = -1;
    if (!QueryInteger(dbc, kSqliteLeftovers, &leftovers) || leftovers != 0) return false;
  }
  return true;
}

bool SessionState::ResetDiscardAll(SQLHDBC dbc) {
  if (!ran_statement_) return true;
  // A transaction the driver knows of is rolled back here; when it knows of
  // none this costs no round trip.
  SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
  // DISCARD ALL refuses to run inside a transaction block: one the driver
  // did not see begin (a BEGIN inside a longer batch) is ended first.
  if (!Run(dbc, u"DISCARD ALL") && !(Run(dbc, u"ROLLBACK") && Run(dbc, u"DISCARD ALL"))) return false;
  // Alone: DISCARD ALL cannot share a batch with anything.
  std::u16string restore = restore_;
  if (timeout_ms_ >= 0) restore += (restore.empty() ? u"" : u"; ") + TimeoutStatement(timeout_ms_);
  return restore.empty() || Run(dbc, restore);
}

}  // namespace zado
