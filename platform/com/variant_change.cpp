// VariantChangeType: builds the converted value in a temporary and only then
// replaces dest, so dest may be src and a failure leaves dest untouched.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <string>

#include "platform/com/value_format.h"
#include "platform/com/variant_numbers.h"

namespace {

using zcom::ReadBool;
using zcom::ReadDouble;
using zcom::ReadInteger;
using zcom::ReadText;

bool IsKnownType(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8:
    case VT_CY: case VT_DATE: case VT_BSTR: case VT_DISPATCH: case VT_ERROR:
    case VT_BOOL: case VT_UNKNOWN: case VT_DECIMAL: case VT_I1:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT:
    case VT_UINT: case VT_ARRAY | VT_UI1:
      return true;
    default:
      return false;
  }
}

HRESULT ToInteger(const VARIANT& src, __int128 lo, __int128 hi, __int128* out) {
  HRESULT hr = ReadInteger(src, out);
  if (FAILED(hr)) return hr;
  return *out < lo || *out > hi ? DISP_E_OVERFLOW : S_OK;
}

HRESULT ToText(const VARIANT& src, VARIANT* out) {
  if (src.vt == (VT_ARRAY | VT_UI1)) {
    BSTR hex = nullptr;
    const HRESULT hr = zcom::FormatBytes(src.parray, &hex);
    if (FAILED(hr)) return hr;
    out->vt = VT_BSTR;
    out->bstrVal = hex;
    return S_OK;
  }
  std::string text;
  HRESULT hr = ReadText(src, &text);
  if (FAILED(hr)) return hr;
  // The text forms are plain ASCII, so each byte is one UTF-16 unit.
  BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
  if (bstr == nullptr) return E_OUTOFMEMORY;
  for (size_t k = 0; k < text.size(); ++k) bstr[k] = static_cast<OLECHAR>(text[k]);
  out->vt = VT_BSTR;
  out->bstrVal = bstr;
  return S_OK;
}

// Objects convert only from objects; a null object stays null.
HRESULT ToObject(const VARIANT& src, VARTYPE vt, VARIANT* out) {
  if (src.vt != VT_DISPATCH && src.vt != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
  IUnknown* object = src.punkVal;
  out->vt = vt;
  out->punkVal = nullptr;
  if (object == nullptr) return S_OK;
  if (vt == VT_UNKNOWN) {
    object->AddRef();
    out->punkVal = object;
    return S_OK;
  }
  void* dispatch = nullptr;
  HRESULT hr = object->QueryInterface(IID_IDispatch, &dispatch);
  if (FAILED(hr)) return hr;
  if (dispatch == nullptr) return E_NOINTERFACE;
  out->pdispVal = static_cast<IDispatch*>(dispatch);
  return S_OK;
}

HRESULT Convert(const VARIANT& src, VARTYPE vt, VARIANT* out) {
  __int128 whole;
  HRESULT hr;
  switch (vt) {
    case VT_BSTR:
      return ToText(src, out);
    case VT_R8: {
      double d;
      hr = ReadDouble(src, &d);
      if (SUCCEEDED(hr)) { out->vt = VT_R8; out->dblVal = d; }
      return hr;
    }
    case VT_R4: {
      double d;
      hr = ReadDouble(src, &d);
      if (FAILED(hr)) return hr;
      float f = static_cast<float>(d);
      if (std::isinf(f) && std::isfinite(d)) return DISP_E_OVERFLOW;
      out->vt = VT_R4;
      out->fltVal = f;
      return S_OK;
    }
    case VT_I2:
      hr = ToInteger(src, INT16_MIN, INT16_MAX, &whole);
      if (SUCCEEDED(hr)) { out->vt = VT_I2; out->iVal = static_cast<SHORT>(whole); }
      return hr;
    case VT_I4:
      hr = ToInteger(src, INT32_MIN, INT32_MAX, &whole);
      if (SUCCEEDED(hr)) { out->vt = VT_I4; out->lVal = static_cast<LONG>(whole); }
      return hr;
    case VT_I8:
      hr = ToInteger(src, INT64_MIN, INT64_MAX, &whole);
      if (SUCCEEDED(hr)) { out->vt = VT_I8; out->llVal = static_cast<LONGLONG>(whole); }
      return hr;
    case VT_BOOL: {
      bool b;
      hr = ReadBool(src, &b);
      if (SUCCEEDED(hr)) { out->vt = VT_BOOL; out->boolVal = b ? VARIANT_TRUE : VARIANT_FALSE; }
      return hr;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return ToObject(src, vt, out);
    default:
      // A known type we offer no conversion into.
      return DISP_E_TYPEMISMATCH;
  }
}

}  // namespace

// `flags` are accepted and ignored: there is no late binding (so no value
// property to call) and no locale other than "C".
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt) {
  if (dest == nullptr || src == nullptr) return E_INVALIDARG;
  if (!IsKnownType(src->vt) || !IsKnownType(vt)) return DISP_E_BADVARTYPE;
  if (src->vt == vt) return VariantCopy(dest, src);
  if (src->vt == VT_NULL) return DISP_E_TYPEMISMATCH;

  VARIANT result;
  VariantInit(&result);
  HRESULT hr = Convert(*src, vt, &result);
  if (FAILED(hr)) return hr;
  hr = VariantClear(dest);  // may be src: result no longer needs it
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *dest = result;
  return S_OK;
}
