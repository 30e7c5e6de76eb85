// Diagnostic records of an ODBC handle, as the Errors collection shows them.
#pragma once

#include "platform/ado/odbc_api.h"

#include <memory>
#include <string>
#include <vector>

namespace zado {

struct DiagRecord {
  std::u16string sql_state;  // five characters
  SQLINTEGER native_error = 0;
  std::u16string message;
};

using DiagList = std::vector<DiagRecord>;
using SharedDiagList = std::shared_ptr<const DiagList>;

// Appends every diagnostic record of the handle to out. narrow_utf8 reads
// them through the narrow entry point as UTF-8, for a connection made that
// way (DriverTraits::narrow_utf8).
void ReadDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle, DiagList* out, bool narrow_utf8 = false);

}  // namespace zado
