// Texts made of a caught _com_error and of a connection's ADO errors.
#pragma once

#include "platform/com/comsupp.h"
#include "platform/middleware/zrm_tracer.h"
#include "platform/types/zr.h"
#include "srv/db/ado_ops.h"

// "Error code = %08lx (%s) %s (Source=%s)": code, meaning, Description,
// Source; null texts print as "(null)". Never cut.
ZR_TString FormatComError(const _com_error& e);
// Four level-1 trace lines: "\tCode = %08lx\n", "\tCode meaning = %s\n",
// "\tSource = %s\n", "\tDescription = %s\n".
void TraceComError(const ZRM_TTracer& server, const _com_error& e);
// One level-1 line "Error number: %x\t%s\n" per entry of the connection's
// Errors collection. Takes its own reference to the connection; an empty one
// throws E_POINTER; a failing ADO call throws.
void TraceAdoErrors(const ZRM_TTracer& server, ConnectionPtr conn);
