// The result line of "query": field texts joined by "|".
#pragma once

#include <string>

#include "platform/types/zr.h"
#include "srv/db/ado_ops.h"
#include "srv/db/result_line.h"

// Appends field `index` of the current record to line: a "|" first unless
// this is the first field of the first record that goes into the line
// (index 0, and record 1 or a single selected record); nothing more when
// ActualSize is 0; an adDouble through FormatDouble; any other type as the
// text of its value.
void AppendField(ResultLine& line, const RecordsetPtr& rs, const VARIANT& index,
                 int32_t index_value, int32_t record, int32_t selector);

// The number form of a double: "%.<p>g" with p = 20 below 1.0 in magnitude
// (or not a number), otherwise (integer digits - 1) + 10, so all integer
// digits and up to 9 after the point. Never cut, however large the value.
std::string FormatDouble(double v);
