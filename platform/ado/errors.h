// Errors collection and Error objects: a snapshot of the diagnostic records
// of one connection operation.
#pragma once

#include "platform/ado/ado.h"
#include "platform/ado/diagnostics.h"

namespace zado {

// A new Errors collection over the records (the caller owns the reference).
Errors* NewErrors(SharedDiagList records);

// Converts a collection index VARIANT (any integer type) to a position;
// false when the VARIANT holds no integer.
bool IndexFromVariant(const VARIANT& index, long long* position);

}  // namespace zado
