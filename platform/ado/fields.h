// Fields collection and Field objects of a Recordset. Both read the current
// record of the opening they were made for at the time of each call; once
// that opening ended they answer "closed".
#pragma once

#include <memory>

#include "platform/ado/ado.h"
#include "platform/ado/row_store.h"

namespace zado {

// One opening of a recordset: its rows and the current position
// (RowCount() when at EOF). rows is null once the opening ended.
struct Cursor {
  std::unique_ptr<RowStore> rows;
  size_t position = 0;
};

// The Fields collection of an opening (the caller owns the reference). It
// makes each Field object once and hands out that same object on every
// lookup, so walking a large result costs no allocation per cell.
Fields* NewFields(std::shared_ptr<const Cursor> cursor);

}  // namespace zado
