// Opening an ODBC connection from a text so that the text, and what the
// driver says on the connection later, passes whole.
#pragma once

#include "platform/ado/odbc_api.h"

#include <string>

#include "platform/ado/diagnostics.h"

namespace zado {

// Allocates a connection handle in env, connects it from text and appends
// its diagnostics to records, read the way the connection was made. On
// success *dbc is the connected handle (the caller frees it); otherwise it
// stays null. A text that cannot reach the driver whole is refused with a
// record saying why. login_timeout_seconds is set on each handle.
SQLRETURN ConnectDriver(SQLHENV env, const std::u16string& text, SQLULEN login_timeout_seconds, SQLHDBC* dbc,
                        DiagList* records);

}  // namespace zado
