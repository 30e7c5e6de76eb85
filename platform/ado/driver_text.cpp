#include "platform/ado/driver_text.h"

#include "platform/ado/odbc_api.h"

#include <algorithm>
#include <climits>

#include "platform/ado/statement_cancel.h"
#include "platform/com/com.h"

namespace zado {

bool ToUtf8(std::u16string_view text, std::string* out) {
  out->clear();
  if (text.empty()) return true;
  if (text.size() > static_cast<size_t>(INT_MAX / 3)) return false;  // 3 bytes per unit at most
  const int units = static_cast<int>(text.size());
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return false;
  out->resize(static_cast<size_t>(bytes));
  return WideCharToMultiByte(CP_UTF8, 0, text.data(), units, out->data(), bytes, nullptr, nullptr) == bytes;
}

std::u16string FromDriverUtf8(const SQLCHAR* text, size_t length) {
  std::u16string out;
  if (length == 0) return out;
  const char* bytes = reinterpret_cast<const char*>(text);
  if (length <= static_cast<size_t>(INT_MAX)) {
    const int n = static_cast<int>(length);
    const int units = MultiByteToWideChar(CP_UTF8, 0, bytes, n, nullptr, 0);
    if (units > 0) {
      out.resize(static_cast<size_t>(units));
      if (MultiByteToWideChar(CP_UTF8, 0, bytes, n, out.data(), units) == units) return out;
    }
  }
  out.assign(length, u'\0');
  for (size_t i = 0; i < length; ++i) out[i] = text[i];
  return out;
}

bool HasSurrogates(std::u16string_view text) {
  for (char16_t c : text)
    if (c >= 0xD800 && c <= 0xDFFF) return true;
  return false;
}

DiagRecord TextRefused(std::u16string message) {
  DiagRecord record;
  record.sql_state = u"22021";  // character not in repertoire
  record.message = std::move(message);
  return record;
}

SQLRETURN ExecDirectWhole(SQLHSTMT stmt, const std::u16string& sql, const DriverTraits& traits,
                          DiagList* diagnostics) {
  SQLRETURN rc;
  if (traits.narrow_utf8) {
    std::string text;
    if (!ToUtf8(sql, &text) || text.size() > static_cast<size_t>(INT32_MAX)) {
      diagnostics->push_back(TextRefused(u"The statement is not well-formed UTF-16 (it holds an unpaired "
                                         u"surrogate); it was not run."));
      return SQL_ERROR;
    }
    const ExecuteWindow window(stmt);
    rc = window.Refused() ? SQL_ERROR
                          : SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(text.data()),
                                          static_cast<SQLINTEGER>(text.size()));
  } else {
    if (!traits.wide_beyond_bmp && HasSurrogates(sql)) {
      diagnostics->push_back(TextRefused(u"The statement holds characters beyond U+FFFF, which this ODBC driver "
                                         u"cannot take whole; it was not run."));
      return SQL_ERROR;
    }
    if (sql.size() > static_cast<size_t>(INT32_MAX)) return SQL_ERROR;
    std::u16string text = sql;  // the driver manager takes a writable text
    const ExecuteWindow window(stmt);
    rc = window.Refused() ? SQL_ERROR
                          : SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(text.data()),
                                           static_cast<SQLINTEGER>(text.size()));
  }
  if (rc != SQL_SUCCESS && rc != SQL_NO_DATA) ReadDiagnostics(SQL_HANDLE_STMT, stmt, diagnostics, traits.narrow_utf8);
  return rc;
}

bool ReadNarrowColumnName(SQLHSTMT stmt, SQLUSMALLINT column, std::u16string* name) {
  constexpr size_t kLongest = 32767;  // ODBC lengths are 16-bit
  std::string bytes(256, '\0');
  SQLSMALLINT length = 0;
  SQLSMALLINT type = 0;
  SQLULEN size = 0;
  SQLSMALLINT digits = 0;
  SQLSMALLINT nullable = 0;
  SQLRETURN rc = SQL_ERROR;
  // A name that fills the buffer may have been cut (some drivers report the
  // length they wrote, not the whole length): read it again, larger.
  for (;;) {
    rc = SQLDescribeCol(stmt, column, reinterpret_cast<SQLCHAR*>(bytes.data()),
                        static_cast<SQLSMALLINT>(bytes.size()), &length, &type, &size, &digits, &nullable);
    if (!SQL_SUCCEEDED(rc) || length < static_cast<SQLSMALLINT>(bytes.size()) - 1 || bytes.size() >= kLongest)
      break;
    bytes.assign(std::min(std::max(bytes.size() * 4, static_cast<size_t>(length) + 2), kLongest), '\0');
  }
  if (!SQL_SUCCEEDED(rc)) return false;
  const size_t used = length < 0 ? 0 : std::min(static_cast<size_t>(length), bytes.size() - 1);
  *name = FromDriverUtf8(reinterpret_cast<const SQLCHAR*>(bytes.data()), used);
  return true;
}

}  // namespace zado
