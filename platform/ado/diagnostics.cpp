#include "platform/ado/diagnostics.h"

#include "platform/ado/odbc_api.h"

#include <algorithm>

namespace zado {

void ReadDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle, DiagList* out) {
  if (handle == SQL_NULL_HANDLE) return;
  for (SQLSMALLINT i = 1;; ++i) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    std::u16string message(512, u'\0');
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(handle_type, handle, i, state, &native,
                                  reinterpret_cast<SQLWCHAR*>(message.data()),
                                  static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
      // The message was cut: ask again with room for all of it.
      message.assign(static_cast<size_t>(length) + 1, u'\0');
      rc = SQLGetDiagRecW(handle_type, handle, i, state, &native,
                          reinterpret_cast<SQLWCHAR*>(message.data()),
                          static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!SQL_SUCCEEDED(rc)) break;
    if (length < 0) length = 0;
    message.resize(std::min<size_t>(static_cast<size_t>(length), message.size()));
    DiagRecord record;
    record.sql_state.assign(reinterpret_cast<const char16_t*>(state), 5);
    record.native_error = native;
    record.message = std::move(message);
    out->push_back(std::move(record));
  }
}

}  // namespace zado
