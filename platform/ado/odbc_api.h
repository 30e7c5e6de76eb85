// The ODBC headers, made to live beside com.h: unixODBC declares
// Windows-style type names of its own, and its ULONG (unsigned long) differs
// from ours (32 bits), so that one name is moved aside while they are read.
// Include ODBC only through this header.
#pragma once

#define ULONG zado_odbc_ulong
#include <sql.h>
#include <sqlext.h>
#include <sqltypes.h>
#include <sqlucode.h>
#undef ULONG
#undef BOOL
