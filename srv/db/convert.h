// Conversions of texts and values across the COM boundary. Every failure is
// thrown as _com_error.
#pragma once

#include <string>

#include "platform/com/com.h"
#include "platform/com/comsupp.h"
#include "platform/types/zr.h"

// VARIANT to text: a VT_BSTR value is copied unchanged; anything else goes
// through VariantChangeType(VT_BSTR, flags 0). Throws the conversion's code
// (DISP_E_TYPEMISMATCH for a null).
_bstr_t VariantToText(const VARIANT& value);
// The same, as a framework string (the wide text up to its first NUL).
ZR_TString VariantToString(const VARIANT& value);
// VARIANT to double: VT_R8 as it is, anything else through
// VariantChangeType(VT_R8, flags 0).
double VariantToDouble(const VARIANT& value);
// A 32-bit integer as VT_I4, turned into its decimal text.
_bstr_t LongToText(LONG value);

// A VT_BSTR VARIANT holding a copy of text with its full length, so
// embedded NULs survive.
void BstrToVariant(BSTR text, VARIANT* out);
// Framework text to narrow text, the whole text (no fixed buffer: a long
// connection string or statement is never cut).
std::string StringToNarrow(const ZR_TString& text);
