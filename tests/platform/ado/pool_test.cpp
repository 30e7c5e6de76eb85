// The connection pool on SQLite: reuse by connection string, bounds, idle
// expiry, the reset of a handed-back connection and of its session, and
// settings parsing.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/ado/connection_pool.h"
#include "platform/ado/odbc_environment.h"
#include "tests/platform/ado/ado_test_util.h"
#include "tests/support/odbc_env.h"

namespace adotest {
namespace {

using zado::ConnectionPool;
using zado::PoolSettings;
using zado::SessionState;

std::u16string PoolDsn() {
  static const std::string dsn = vqtest::AddSqliteDsn("vq_pool", "CREATE TABLE t(x integer);");
  return U16("DSN=" + dsn);
}

// Connects outside the data-object layer, the way that layer does.
SQLHDBC RawConnect(const std::u16string& text) {
  SQLHDBC dbc = SQL_NULL_HDBC;
  EXPECT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, zado::OdbcEnvironment(), &dbc)));
  std::u16string in = text;
  SQLSMALLINT out_length = 0;
  EXPECT_TRUE(SQL_SUCCEEDED(SQLDriverConnectW(dbc, nullptr, reinterpret_cast<SQLWCHAR*>(in.data()),
                                              static_cast<SQLSMALLINT>(in.size()), nullptr, 0, &out_length,
                                              SQL_DRIVER_NOPROMPT)));
  return dbc;
}

// Hands a connection back with the session state it had when it was made.
void GiveBack(ConnectionPool& pool, const std::u16string& key, SQLHDBC dbc) {
  pool.Give(key, dbc, SessionState::AtConnect(dbc));
}

bool Exec(SQLHDBC dbc, const char16_t* sql) {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) return false;
  std::u16string text = sql;
  const SQLRETURN rc = SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(text.data()), SQL_NTS);
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  return SQL_SUCCEEDED(rc);
}

long CountRows(SQLHDBC dbc) {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  EXPECT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt)));
  std::u16string text = u"SELECT count(*) FROM t";
  SQLINTEGER n = -1;
  EXPECT_TRUE(SQL_SUCCEEDED(SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(text.data()), SQL_NTS)));
  EXPECT_TRUE(SQL_SUCCEEDED(SQLFetch(stmt)));
  EXPECT_TRUE(SQL_SUCCEEDED(SQLGetData(stmt, 1, SQL_C_SLONG, &n, sizeof n, nullptr)));
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  return n;
}

TEST(ConnectionPool, ReusesByConnectionStringWithinBounds) {
  const std::u16string key = PoolDsn();
  const std::u16string other = key + u";Timeout=1000";
  PoolSettings s;
  s.max_total = 3;
  s.max_per_key = 2;
  ConnectionPool pool(s);
  EXPECT_TRUE(pool.Take(key) == SQL_NULL_HDBC);

  SQLHDBC a = RawConnect(key);
  GiveBack(pool, key, a);
  EXPECT_EQ(pool.IdleCount(key), 1u);
  EXPECT_TRUE(pool.Take(other) == SQL_NULL_HDBC) << "another text is another key";
  SQLHDBC again = pool.Take(key);
  EXPECT_EQ(again, a);
  EXPECT_TRUE(Exec(again, u"SELECT 1"));
  EXPECT_EQ(pool.IdleCount(), 0u);

  // Per key at most two; in all at most three.
  GiveBack(pool, key, again);
  GiveBack(pool, key, RawConnect(key));
  GiveBack(pool, key, RawConnect(key));
  EXPECT_EQ(pool.IdleCount(key), 2u);
  GiveBack(pool, other, RawConnect(other));
  GiveBack(pool, other, RawConnect(other));
  EXPECT_EQ(pool.IdleCount(other), 1u);
  EXPECT_EQ(pool.IdleCount(), 3u);
  pool.Clear();
  EXPECT_EQ(pool.IdleCount(), 0u);
  EXPECT_TRUE(pool.Take(key) == SQL_NULL_HDBC);
}

TEST(ConnectionPool, IdleConnectionsExpireAndAPoolOffKeepsNothing) {
  const std::u16string key = PoolDsn();
  PoolSettings s;
  s.idle_timeout = std::chrono::milliseconds(50);
  ConnectionPool pool(s);
  GiveBack(pool, key, RawConnect(key));
  EXPECT_EQ(pool.IdleCount(), 1u);
  // The test input: the connection stays idle longer than its idle time.
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  EXPECT_TRUE(pool.Take(key) == SQL_NULL_HDBC);
  EXPECT_EQ(pool.IdleCount(), 0u);

  s.enabled = false;
  ConnectionPool off(s);
  GiveBack(off, key, RawConnect(key));
  EXPECT_EQ(off.IdleCount(), 0u);
  EXPECT_TRUE(off.Take(key) == SQL_NULL_HDBC);
}

TEST(ConnectionPool, HandedBackConnectionIsRolledBackWithAutocommitOn) {
  const std::u16string key = PoolDsn();
  ConnectionPool pool(PoolSettings{});
  SQLHDBC dbc = RawConnect(key);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLSetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT,
                                               reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0)));
  ASSERT_TRUE(Exec(dbc, u"INSERT INTO t VALUES (42)"));
  EXPECT_EQ(CountRows(dbc), 1);
  GiveBack(pool, key, dbc);

  SQLHDBC reused = pool.Take(key);
  ASSERT_EQ(reused, dbc);
  SQLUINTEGER autocommit = SQL_AUTOCOMMIT_OFF;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLGetConnectAttrW(reused, SQL_ATTR_AUTOCOMMIT, &autocommit, sizeof autocommit, nullptr)));
  EXPECT_EQ(autocommit, static_cast<SQLUINTEGER>(SQL_AUTOCOMMIT_ON));
  EXPECT_EQ(CountRows(reused), 0) << "the open transaction was rolled back";
  // The database is not locked by a leftover transaction.
  SQLHDBC second = RawConnect(key);
  EXPECT_TRUE(Exec(second, u"INSERT INTO t VALUES (1)"));
  EXPECT_TRUE(Exec(second, u"DELETE FROM t"));
  ConnectionPool::Discard(second);
  ConnectionPool::Discard(reused);
}

TEST(ConnectionPool, ConnectionObjectsReuseAndStartWithEmptyErrors) {
  const std::u16string key = PoolDsn();
  ComScope com;
  ConnectionPool& pool = ConnectionPool::Process();
  ASSERT_TRUE(pool.Enabled()) << "the tests run with the pool on";
  pool.Clear();
  for (int round = 0; round < 2; ++round) {
    Ptr<_Connection> c;
    *c.Out() = NewConnection();
    BSTR text = SysAllocStringLen(key.data(), static_cast<UINT>(key.size()));
    ASSERT_EQ(c->Open(text, nullptr, nullptr, 0), S_OK);
    SysFreeString(text);
    EXPECT_EQ(pool.IdleCount(key), 0u) << "round " << round << ": the idle one was taken";
    Ptr<Errors> errors;
    ASSERT_EQ(c->get_Errors(errors.Out()), S_OK);
    LONG count = -1;
    ASSERT_EQ(errors->get_Count(&count), S_OK);
    EXPECT_EQ(count, 0);
    ASSERT_EQ(c->Close(), S_OK);
    EXPECT_EQ(pool.IdleCount(key), 1u);
    LONG state = -1;
    ASSERT_EQ(c->get_State(&state), S_OK);
    EXPECT_EQ(state, adStateClosed);
  }
  // A failed statement on a reused connection still reports as before.
  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  EXPECT_EQ(OpenRecordset(rs.get(), "SELECT * FROM no_such_table", U8(key)), E_FAIL);
  EXPECT_NE(TakeErrorInfo().find("no_such_table"), std::string::npos);
  pool.Clear();
}

TEST(SessionState, SqliteStatementsAreWatchedByTheirWords) {
  struct Case {
    const char16_t* sql;
    unsigned changes;
  };
  const Case cases[] = {
      {u"SELECT id, name FROM small WHERE x = 1", 0},
      // Words that only contain a watched one change nothing.
      {u"SELECT temperature, attempts, begins FROM sqlite_temp_master, pragma_table_info('t')", 0},
      {u"SELECT temp_x, x_temp, $temp, temp1, \u00e9temp FROM t", 0},
      {u"CREATE TEMP TABLE t(x)", SessionState::kTemporary},
      {u"create temporary view v as select 1", SessionState::kTemporary},
      {u"CREATE TABLE \"temp\".t(x)", SessionState::kTemporary},
      {u"CREATE TABLE [TEMP].t(x); CREATE INDEX `Temp`.i ON t(x)", SessionState::kTemporary},
      {u"Begin Immediate", SessionState::kTransaction},
      {u"SAVEPOINT sp", SessionState::kTransaction},
      {u"ATTACH DATABASE 'f.db' AS f", SessionState::kAttached},
      {u"detach f", SessionState::kAttached},
      {u"PRAGMA foreign_keys = ON", SessionState::kUnchecked},
      {u"SELECT load_extension('x')", SessionState::kUnchecked},
      // Wherever the word stands, a literal and a comment included.
      {u"SELECT 'pragma'", SessionState::kUnchecked},
      {u"SELECT 1 -- begin\n", SessionState::kTransaction},
      {u"SELECT 1;ATTACH ':memory:' AS m;CREATE TEMP VIEW v AS SELECT 1",
       SessionState::kAttached | SessionState::kTemporary},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SessionState::WatchedChanges(c.sql), c.changes) << U8(std::u16string(c.sql));
}

// Runs sql on dbc after noting it in session, as the data objects do.
bool RunNoted(SQLHDBC dbc, SessionState& session, const char16_t* sql) {
  session.NoteStatement(sql);
  return Exec(dbc, sql);
}

TEST(ConnectionPool, SqliteConnectionIsKeptOnlyWhenItsSessionIsAsNew) {
  const std::u16string key = PoolDsn();
  ConnectionPool pool(PoolSettings{});
  // Each sequence of statements, and whether the connection stays pooled.
  struct Case {
    std::vector<const char16_t*> statements;
    bool kept;
  };
  const Case cases[] = {
      {{u"SELECT count(*) FROM t"}, true},
      {{u"CREATE TEMP TABLE tt(x)"}, false},
      {{u"CREATE TEMP TABLE tt(x)", u"DROP TABLE temp.tt"}, true},
      {{u"ATTACH DATABASE ':memory:' AS m"}, false},
      {{u"ATTACH DATABASE ':memory:' AS m", u"DETACH m"}, true},
      {{u"PRAGMA foreign_keys"}, false},
      {{u"SELECT 'temp', 'begin', 'attach'"}, true},
      {{u"BEGIN", u"COMMIT"}, true},
  };
  for (const Case& c : cases) {
    SQLHDBC dbc = RawConnect(key);
    SessionState session = SessionState::AtConnect(dbc);
    ASSERT_TRUE(session.Resettable());
    for (const char16_t* sql : c.statements) ASSERT_TRUE(RunNoted(dbc, session, sql)) << U8(std::u16string(sql));
    pool.Give(key, dbc, std::move(session));
    EXPECT_EQ(pool.IdleCount(key), c.kept ? 1u : 0u) << U8(std::u16string(c.statements.front()));
    pool.Clear();
  }
}

TEST(ConnectionPool, SqliteTransactionLeftOpenIsRolledBack) {
  const std::u16string key = PoolDsn();
  ConnectionPool pool(PoolSettings{});
  for (const char16_t* begin : {u"BEGIN", u"SAVEPOINT sp"}) {
    SQLHDBC dbc = RawConnect(key);
    SessionState session = SessionState::AtConnect(dbc);
    ASSERT_TRUE(RunNoted(dbc, session, begin));
    ASSERT_TRUE(RunNoted(dbc, session, u"INSERT INTO t VALUES (42)"));
    pool.Give(key, dbc, std::move(session));

    SessionState again;
    SQLHDBC reused = pool.Take(key, &again);
    ASSERT_EQ(reused, dbc) << U8(std::u16string(begin));
    EXPECT_EQ(CountRows(reused), 0) << "the transaction was rolled back";
    // A transaction can begin again, so none is open.
    EXPECT_TRUE(RunNoted(reused, again, u"BEGIN"));
    EXPECT_TRUE(RunNoted(reused, again, u"ROLLBACK"));
    pool.Give(key, reused, std::move(again));
    EXPECT_EQ(pool.IdleCount(key), 1u);
    pool.Clear();
  }
}

TEST(ConnectionPool, ConnectionOfADriverWithoutAResetIsNotKept) {
  const std::u16string key = PoolDsn();
  ConnectionPool pool(PoolSettings{});
  SessionState none;
  EXPECT_FALSE(none.Resettable());
  pool.Give(key, RawConnect(key), std::move(none));
  EXPECT_EQ(pool.IdleCount(), 0u);
}

TEST(AdoSettings, WholeNumbersInRangeOnly) {
  long long v = -1;
  EXPECT_TRUE(zado::ParseSetting("0", 10, &v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(zado::ParseSetting("10", 10, &v));
  EXPECT_EQ(v, 10);
  v = 7;
  EXPECT_FALSE(zado::ParseSetting("11", 10, &v));
  EXPECT_FALSE(zado::ParseSetting("-1", 10, &v));
  EXPECT_FALSE(zado::ParseSetting(" 1", 10, &v));
  EXPECT_FALSE(zado::ParseSetting("1x", 10, &v));
  EXPECT_FALSE(zado::ParseSetting("", 10, &v));
  EXPECT_FALSE(zado::ParseSetting(nullptr, 10, &v));
  EXPECT_FALSE(zado::ParseSetting("99999999999999999999999", 10, &v));
  EXPECT_EQ(v, 7);
}

}  // namespace
}  // namespace adotest
