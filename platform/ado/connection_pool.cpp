#include "platform/ado/connection_pool.h"

#include "platform/ado/odbc_api.h"

namespace zado {

bool ConnectionDead(SQLHDBC dbc) {
  SQLUINTEGER dead = SQL_CD_FALSE;
  const SQLRETURN rc = SQLGetConnectAttrW(dbc, SQL_ATTR_CONNECTION_DEAD, &dead, sizeof dead, nullptr);
  // A driver that cannot tell is taken at its word of being alive; the first
  // statement then shows it.
  return SQL_SUCCEEDED(rc) && dead == SQL_CD_TRUE;
}

bool HasConnectionFailure(const DiagList& records) {
  for (const DiagRecord& r : records)
    if (r.sql_state.size() >= 2 && r.sql_state[0] == u'0' && r.sql_state[1] == u'8') return true;
  return false;
}

ConnectionPool::~ConnectionPool() { Clear(); }

ConnectionPool& ConnectionPool::Process() {
  // Never destroyed: connections still idle at exit go with the process
  // rather than call into drivers that may already be unloading.
  static ConnectionPool* pool = new ConnectionPool(ProcessPoolSettings());
  return *pool;
}

bool ConnectionPool::Reset(SQLHDBC dbc, SessionState* session) {
  if (!session->Resettable() || ConnectionDead(dbc)) return false;
  SQLUINTEGER autocommit = SQL_AUTOCOMMIT_ON;
  if (!SQL_SUCCEEDED(SQLGetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT, &autocommit, sizeof autocommit, nullptr)))
    return false;
  if (autocommit != SQL_AUTOCOMMIT_ON) {
    if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK))) return false;
    if (!SQL_SUCCEEDED(SQLSetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT,
                                          reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0)))
      return false;
  }
  return session->Reset(dbc) && !ConnectionDead(dbc);
}

void ConnectionPool::Discard(SQLHDBC dbc) {
  if (dbc == SQL_NULL_HDBC) return;
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
}

void ConnectionPool::CollectExpired(Clock::time_point now, std::vector<SQLHDBC>* out) {
  for (auto it = idle_.begin(); it != idle_.end();) {
    std::deque<Idle>& list = it->second;
    // The oldest are at the front.
    while (!list.empty() && now - list.front().since >= settings_.idle_timeout) {
      out->push_back(list.front().dbc);
      list.pop_front();
      --total_;
    }
    it = list.empty() ? idle_.erase(it) : std::next(it);
  }
}

SQLHDBC ConnectionPool::Take(const std::u16string& key, SessionState* session) {
  if (!settings_.enabled) return SQL_NULL_HDBC;
  std::vector<SQLHDBC> drop;
  SQLHDBC found = SQL_NULL_HDBC;
  SessionState found_session;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    CollectExpired(Clock::now(), &drop);
    auto it = idle_.find(key);
    if (it != idle_.end()) {
      // The most recently used one is the likeliest still to be alive.
      found = it->second.back().dbc;
      found_session = std::move(it->second.back().session);
      it->second.pop_back();
      --total_;
      if (it->second.empty()) idle_.erase(it);
    }
  }
  for (SQLHDBC dbc : drop) Discard(dbc);
  if (found != SQL_NULL_HDBC && ConnectionDead(found)) {
    Discard(found);
    return Take(key, session);
  }
  if (session) *session = std::move(found_session);
  return found;
}

void ConnectionPool::Give(const std::u16string& key, SQLHDBC dbc, SessionState session) {
  if (dbc == SQL_NULL_HDBC) return;
  if (!settings_.enabled || !Reset(dbc, &session)) {
    Discard(dbc);
    return;
  }
  std::vector<SQLHDBC> drop;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const Clock::time_point now = Clock::now();
    CollectExpired(now, &drop);
    std::deque<Idle>& list = idle_[key];
    if (list.size() >= settings_.max_per_key || total_ >= settings_.max_total) {
      drop.push_back(dbc);
      if (list.empty()) idle_.erase(key);
    } else {
      list.push_back({dbc, now, std::move(session)});
      ++total_;
    }
  }
  for (SQLHDBC d : drop) Discard(d);
}

void ConnectionPool::Clear() {
  std::vector<SQLHDBC> drop;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [key, list] : idle_)
      for (const Idle& i : list) drop.push_back(i.dbc);
    idle_.clear();
    total_ = 0;
  }
  for (SQLHDBC dbc : drop) Discard(dbc);
}

size_t ConnectionPool::IdleCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return total_;
}

size_t ConnectionPool::IdleCount(const std::u16string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = idle_.find(key);
  return it == idle_.end() ? 0 : it->second.size();
}

std::vector<std::pair<std::u16string, size_t>> ConnectionPool::IdleByKey() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::pair<std::u16string, size_t>> out;
  out.reserve(idle_.size());
  for (const auto& [key, list] : idle_) out.emplace_back(key, list.size());
  return out;
}

}  // namespace zado
