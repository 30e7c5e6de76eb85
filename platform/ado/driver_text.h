// Texts between this layer (UTF-16) and an ODBC driver, through the entry
// points that keep every character: the UTF-16 ones, or the narrow ones with
// UTF-8 for a driver whose traits say so (see driver_traits.h).
#pragma once

#include "platform/ado/odbc_api.h"

#include <string>
#include <string_view>

#include "platform/ado/diagnostics.h"
#include "platform/ado/driver_traits.h"

namespace zado {

// UTF-8 of a UTF-16 text; false when it holds an unpaired surrogate.
bool ToUtf8(std::u16string_view text, std::string* out);
// UTF-16 of a driver's UTF-8 text. Bytes that are not UTF-8 are taken one
// character each (as Latin-1), so a message is never lost.
std::u16string FromDriverUtf8(const SQLCHAR* text, size_t length);
// Whether the text holds a surrogate (paired or not).
bool HasSurrogates(std::u16string_view text);

// A diagnostic record of this layer for a text that was not handed on.
DiagRecord TextRefused(std::u16string message);

// Runs sql on stmt (SQLExecDirect) through the entry point that takes it
// whole. Every result but SQL_SUCCESS and SQL_NO_DATA appends the
// statement's diagnostics. A text the driver cannot take whole never
// reaches it: SQL_ERROR with a record saying why.
SQLRETURN ExecDirectWhole(SQLHSTMT stmt, const std::u16string& sql, const DriverTraits& traits,
                          DiagList* diagnostics);

// The name of a result column through the narrow entry point (for a driver
// with narrow_utf8). False when the driver refuses.
bool ReadNarrowColumnName(SQLHSTMT stmt, SQLUSMALLINT column, std::u16string* name);

}  // namespace zado
