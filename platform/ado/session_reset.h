// Bringing the session of a pooled ODBC connection back to the state a new
// connection has, so that nothing one request leaves in the database session
// (temporary objects, attached databases, settings, role, an open
// transaction, prepared statements, cursors, locks, listeners) reaches the
// next. How it is done is the driver's SessionReset (driver_traits.h).
#pragma once

#include "platform/ado/odbc_api.h"

#include <string>
#include <string_view>

#include "platform/ado/driver_traits.h"

namespace zado {

class SessionState {
 public:
  // A state that cannot be reset: its connection is never pooled.
  SessionState() = default;

  // The state of a connection just made, before any statement of a client
  // ran on it. Reads what the reset needs to restore (on PostgreSQL the
  // settings the driver and the data source made at connect, one query);
  // a driver without a known complete reset, or a failed read, gives a
  // state that cannot be reset.
  static SessionState AtConnect(SQLHDBC dbc);

  // Whether the connection may be pooled at all.
  bool Resettable() const { return how_ != SessionReset::kNone; }

  // Notes a statement about to run on the connection (before it runs, so
  // that a statement that fails half-way is noted too).
  void NoteStatement(std::u16string_view sql);

  // Puts a statement time limit (seconds, 0 = none) into the session, on a
  // driver that keeps it there (DriverTraits::statement_timeout_in_session);
  // a round trip only when it differs from the one the session holds. False
  // when the statement must be given the limit itself.
  bool HoldTimeout(SQLHDBC dbc, long seconds);

  // Returns the session to its state at connect False when that cannot be
  // done or is not known to have worked: the connection must then be
  // closed. The notes start afresh either way.
  bool Reset(SQLHDBC dbc);

  // What a statement may change in a session on a driver that is watched
  // (SessionReset::kWatchStatements): a set of the Change bits below.
  enum Change : unsigned {
    kTransaction = 1,  // BEGIN, SAVEPOINT
    kTemporary = 2,    // TEMP, TEMPORARY, the schema "temp"
    kAttached = 4,     // ATTACH, DETACH
    kUnchecked = 8,    // PRAGMA, load_extension(): closes the connection
  };
  // The changes sql may make, found from its words (identifier-like runs of
  // characters, compared without regard to ASCII case) wherever they stand,
  // in names, literals and comments too: a word too many costs a check,
  // never a leak.
  static unsigned WatchedChanges(std::u16string_view sql);

 private:
  bool ResetWatched(SQLHDBC dbc);
  bool ResetDiscardAll(SQLHDBC dbc);

  SessionReset how_ = SessionReset::kNone;
  // kDiscardAll: the statements that bring back the settings, session
  // authorization and role the session had at connect ("" when none).
  std::u16string restore_;
  // kWatchStatements: the Change bits of the statements run since the last
  // reset. kDiscardAll: whether any statement ran.
  unsigned changes_ = 0;
  bool ran_statement_ = false;
  // The statement_timeout in milliseconds this layer put in the session and
  // the reset brings back; below 0 when it never did.
  long long timeout_ms_ = -1;
  bool holds_timeout_ = false;  // the driver keeps the time limit in the session
};

}  // namespace zado
