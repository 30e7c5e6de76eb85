#include "platform/ado/diagnostics.h"

#include "platform/ado/odbc_api.h"

#include <algorithm>
#include <string>

#include "platform/ado/driver_text.h"

namespace zado {
namespace {

// The records through SQLGetDiagRec, as UTF-8. The driver manager holds a
// narrow driver's records as one UTF-16 unit per byte when the connection
// was made under a single-byte locale, and gives the bytes back unchanged
// here.
void ReadNarrowDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle, DiagList* out) {
  for (SQLSMALLINT i = 1;; ++i) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    std::string message(512, '\0');
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRec(handle_type, handle, i, state, &native,
                                 reinterpret_cast<SQLCHAR*>(message.data()),
                                 static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
      message.assign(static_cast<size_t>(length) + 1, '\0');
      rc = SQLGetDiagRec(handle_type, handle, i, state, &native, reinterpret_cast<SQLCHAR*>(message.data()),
                         static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!SQL_SUCCEEDED(rc)) break;
    const size_t used = length < 0 ? 0 : std::min<size_t>(static_cast<size_t>(length), message.size() - 1);
    DiagRecord record;
    record.sql_state = FromDriverUtf8(state, 5);
    record.native_error = native;
    record.message = FromDriverUtf8(reinterpret_cast<const SQLCHAR*>(message.data()), used);
    out->push_back(std::move(record));
  }
}

}  // namespace

void ReadDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle, DiagList* out, bool narrow_utf8) {
  if (handle == SQL_NULL_HANDLE) return;
  if (narrow_utf8) {
    ReadNarrowDiagnostics(handle_type, handle, out);
    return;
  }
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
