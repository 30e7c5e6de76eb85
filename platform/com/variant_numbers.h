// Reading a VARIANT as a number, a truth value or a text. Each answers S_OK
// or the failure VariantChangeType reports for that source.
#pragma once

#include <string>

#include "platform/com/com.h"

namespace zcom {

// Whole number; reals, currency and decimals round half to even.
HRESULT ReadInteger(const VARIANT& src, __int128* out);
HRESULT ReadDouble(const VARIANT& src, double* out);
HRESULT ReadBool(const VARIANT& src, bool* out);
// Text form of any value except VT_BSTR (which the caller copies as is)
// and byte arrays (FormatBytes).
HRESULT ReadText(const VARIANT& src, std::string* out);

}  // namespace zcom
