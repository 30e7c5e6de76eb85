// Trace of the records and fields that "query" walks.
#pragma once

#include "platform/middleware/zrm_tracer.h"
#include "platform/types/zr.h"
#include "srv/db/ado_ops.h"

// Per-field lines of a selected record, written before the field's share
// of the result line: " field name %s", at level 3 "  status %s",
// "  attributes %s", "  type %d", then " field value <text>" or
// " field value (empty)". Reads ADO properties only for the levels that
// are on. A null value shows as "(null)".
void TraceSelectedField(const ZRM_TTracer& server, const RecordsetPtr& rs,
                        const VARIANT& index);
// Level-2 display of a record that is walked but not selected: the result
// line so far (at level 1), "Displaying record set nr %d", then one
// "<name> = <value text>" line per field. Call only when level 2 is on.
void TraceUnselectedRecord(const ZRM_TTracer& server, const RecordsetPtr& rs,
                           const ZR_TString& line, int32_t record);
