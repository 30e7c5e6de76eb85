// The ODBC headers, made to live beside com.h: unixODBC declares
// Windows-style type names of its own. Those that match ours denote the same
// types; its ULONG (unsigned long) differs from ours (32 bits), so beside
// these headers ours is spelled zwin::ULONG (see com.h).
// Include ODBC only through this header.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sqltypes.h>
#include <sqlucode.h>
#undef BOOL
