// Fields collection and Field objects of a Recordset. Both keep the
// recordset alive and read its current record at the time of each call.
#pragma once

#include "platform/ado/ado.h"

namespace zado {

class AdoRecordset;

// A new Fields collection of the recordset (the caller owns the reference).
Fields* NewFields(AdoRecordset* recordset);

}  // namespace zado
