// The one ODBC environment handle of the process (ODBC 3 behaviour).
#pragma once

#include "platform/ado/odbc_api.h"

namespace zado {

// Made on first use, once, safe from many threads; SQL_NULL_HENV when the
// driver manager refuses to make one. Lives until the process ends.
SQLHENV OdbcEnvironment();

}  // namespace zado
