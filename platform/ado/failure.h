// Failure results with error information set on the calling thread.
#pragma once

#include "platform/ado/ado.h"
#include "platform/ado/diagnostics.h"

namespace zado {

inline constexpr const char16_t* kConnectionSource = u"ADODB.Connection";
inline constexpr const char16_t* kRecordsetSource = u"ADODB.Recordset";

// An object that is open cannot be opened again or reconfigured.
inline constexpr HRESULT adErrObjectOpen = MakeHr(0x800A0E79);
// The recordset cannot do that (a forward-only one moving back).
inline constexpr HRESULT adErrFeatureNotAvailable = MakeHr(0x800A0CB3);
// The statement was stopped by AdoStatementCancel (ado.h).
inline constexpr HRESULT adErrOperationCancelled = MakeHr(0x800A0E80);

// Sets error information (iid, source, description) and returns hr. A null
// description takes the standard text of hr.
HRESULT Fail(REFIID iid, const char16_t* source, HRESULT hr, const char16_t* description = nullptr);

// A failure the driver reported: E_FAIL with the first record's message.
HRESULT DriverFail(REFIID iid, const char16_t* source, const DiagList& records);

// The text this layer uses for one of its own failure codes.
const char16_t* StandardText(HRESULT hr);

}  // namespace zado
