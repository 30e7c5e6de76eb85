#include "bench/odbc_work.h"

#include <cstdio>

namespace bench {
namespace {

void PrintDiagnostics(SQLSMALLINT type, SQLHANDLE handle, const char* what) {
  SQLCHAR state[6] = {};
  SQLCHAR text[512] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT len = 0;
  if (SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, state, &native, text, sizeof text, &len)))
    std::fprintf(stderr, "odbc_direct: %s: [%s] %s\n", what, state, text);
  else
    std::fprintf(stderr, "odbc_direct: %s failed\n", what);
}

// Closes the statement handle on every path out.
struct Statement {
  SQLHSTMT h = SQL_NULL_HSTMT;
  ~Statement() {
    if (h != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, h);
  }
};

// Appends one cell; a long text comes in several pieces.
bool AppendCell(SQLHSTMT stmt, SQLUSMALLINT column, std::string& out) {
  char buffer[4096];
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
    if (rc == SQL_NO_DATA) return true;
    if (!SQL_SUCCEEDED(rc)) {
      PrintDiagnostics(SQL_HANDLE_STMT, stmt, "SQLGetData");
      return false;
    }
    if (indicator == SQL_NULL_DATA) return true;
    const bool more = indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof buffer);
    out.append(buffer, more ? sizeof buffer - 1 : static_cast<size_t>(indicator));
    if (!more) return true;
  }
}

}  // namespace

Environment::Environment() {
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_))) {
    env_ = SQL_NULL_HENV;
    return;
  }
  SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
}

Environment::~Environment() {
  if (env_ != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

Connection::~Connection() {
  if (connected_) SQLDisconnect(dbc_);
  if (dbc_ != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
}

bool Connection::Open(SQLHENV env, const std::string& dsn) {
  if (dbc_ == SQL_NULL_HDBC && !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc_))) {
    dbc_ = SQL_NULL_HDBC;
    return false;
  }
  std::string text = "DSN=" + dsn;
  SQLCHAR done[1024];
  SQLSMALLINT len = 0;
  const SQLRETURN rc =
      SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                       static_cast<SQLSMALLINT>(text.size()), done, sizeof done, &len,
                       SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    PrintDiagnostics(SQL_HANDLE_DBC, dbc_, "SQLDriverConnect");
    return false;
  }
  connected_ = true;
  return true;
}

bool RunStatement(SQLHDBC dbc, const std::string& sql, bool names, std::string& out) {
  Statement stmt;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt.h))) {
    stmt.h = SQL_NULL_HSTMT;
    return false;
  }
  std::string text = sql;
  if (!SQL_SUCCEEDED(SQLExecDirect(stmt.h, reinterpret_cast<SQLCHAR*>(text.data()),
                                   static_cast<SQLINTEGER>(text.size())))) {
    PrintDiagnostics(SQL_HANDLE_STMT, stmt.h, "SQLExecDirect");
    return false;
  }
  SQLSMALLINT columns = 0;
  if (!SQL_SUCCEEDED(SQLNumResultCols(stmt.h, &columns))) return false;
  if (names) {
    for (SQLUSMALLINT c = 1; c <= columns; ++c) {
      SQLCHAR name[256];
      SQLSMALLINT len = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      if (!SQL_SUCCEEDED(SQLDescribeCol(stmt.h, c, name, sizeof name, &len, &type, &size,
                                        &digits, &nullable)))
        return false;
      out.append(reinterpret_cast<const char*>(name)).push_back('=');
    }
  }
  bool first = true;
  for (;;) {
    const SQLRETURN rc = SQLFetch(stmt.h);
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc)) {
      PrintDiagnostics(SQL_HANDLE_STMT, stmt.h, "SQLFetch");
      return false;
    }
    for (SQLUSMALLINT c = 1; c <= columns; ++c) {
      if (!first) out.push_back('|');
      first = false;
      if (!AppendCell(stmt.h, c, out)) return false;
    }
  }
  return true;
}

}  // namespace bench
