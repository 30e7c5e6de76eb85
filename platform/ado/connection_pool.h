// Idle ODBC connections kept for reuse, keyed by the full connection string
// they were opened with. A connection handed back is reset first (an open
// transaction rolled back, autocommit on, its session returned to the state
// of a new connection: see session_reset.h) and dropped when that fails,
// when its driver has no known complete reset, when the driver says it is
// dead, when it has been idle too long, or when the pool is full.
// Safe to use from many threads; a taken connection belongs to the taker.
#pragma once

#include "platform/ado/odbc_api.h"

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/ado/ado_settings.h"
#include "platform/ado/diagnostics.h"
#include "platform/ado/session_reset.h"

namespace zado {

class ConnectionPool {
 public:
  using Clock = std::chrono::steady_clock;

  explicit ConnectionPool(PoolSettings settings) : settings_(settings) {}
  ~ConnectionPool();
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  // The pool of the process, configured from the environment.
  static ConnectionPool& Process();

  bool Enabled() const { return settings_.enabled; }

  // An idle connection opened with key that the driver does not know to be
  // dead, or SQL_NULL_HDBC when there is none. session (when given) gets
  // the state that came back with it.
  SQLHDBC Take(const std::u16string& key, SessionState* session = nullptr);
  // Hands back a connection opened with key (connected, no statement
  // running) with its session state. Kept when it resets cleanly and there
  // is room; else closed.
  void Give(const std::u16string& key, SQLHDBC dbc, SessionState session);
  // Closes every idle connection.
  void Clear();

  size_t IdleCount() const;
  size_t IdleCount(const std::u16string& key) const;
  // The number of idle connections of each key that has any.
  std::vector<std::pair<std::u16string, size_t>> IdleByKey() const;

  // Rolls back, turns autocommit on, resets the session and checks the
  // connection is alive. False when any of it fails: the connection is no
  // good for reuse.
  static bool Reset(SQLHDBC dbc, SessionState* session);
  // Disconnects and frees the handle.
  static void Discard(SQLHDBC dbc);

 private:
  struct Idle {
    SQLHDBC dbc;
    Clock::time_point since;
    SessionState session;
  };

  // Moves the expired connections of every key into out (lock held).
  void CollectExpired(Clock::time_point now, std::vector<SQLHDBC>* out);

  const PoolSettings settings_;
  mutable std::mutex mutex_;
  std::map<std::u16string, std::deque<Idle>> idle_;  // most recently given at the back
  size_t total_ = 0;
};

// True when the connection reports itself dead (SQL_ATTR_CONNECTION_DEAD).
bool ConnectionDead(SQLHDBC dbc);
// True when a diagnostic says the connection failed (SQLSTATE class 08).
bool HasConnectionFailure(const DiagList& records);

}  // namespace zado
