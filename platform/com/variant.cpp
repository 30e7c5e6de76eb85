// VARIANT life cycle: initialisation, clearing and deep copies.
#include "platform/com/com.h"

namespace {

constexpr VARTYPE kByteArray = VT_ARRAY | VT_UI1;

// Types whose value is plain data: copied by assignment, nothing to free.
bool IsPlain(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8:
    case VT_CY: case VT_DATE: case VT_ERROR: case VT_BOOL: case VT_DECIMAL:
    case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8:
    case VT_INT: case VT_UINT:
      return true;
    default:
      return false;
  }
}

}  // namespace

void VariantInit(VARIANT* v) {
  if (v == nullptr) return;
  v->vt = VT_EMPTY;
  v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
  v->llVal = 0;
}

// A VARIANT of a type we do not know is left as it is: freeing it by guess
// could corrupt memory.
HRESULT VariantClear(VARIANT* v) {
  if (v == nullptr) return E_INVALIDARG;
  switch (v->vt) {
    case VT_BSTR:
      SysFreeString(v->bstrVal);
      break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      if (v->punkVal != nullptr) v->punkVal->Release();
      break;
    case kByteArray:
      SafeArrayDestroy(v->parray);
      break;
    default:
      if (!IsPlain(v->vt)) return DISP_E_BADVARTYPE;
  }
  VariantInit(v);
  return S_OK;
}

// The copy is made in full before dest is cleared, so a failed copy leaves
// dest as it was.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
  if (dest == nullptr || src == nullptr) return E_INVALIDARG;
  if (dest == src) return S_OK;
  VARIANT copy = *src;
  switch (src->vt) {
    case VT_BSTR:
      if (src->bstrVal != nullptr) {
        // Full byte length, so embedded NULs and odd lengths survive.
        copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(src->bstrVal),
                                             SysStringByteLen(src->bstrVal));
        if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
      }
      break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      if (copy.punkVal != nullptr) copy.punkVal->AddRef();
      break;
    case kByteArray: {
      HRESULT hr = SafeArrayCopy(src->parray, &copy.parray);
      if (FAILED(hr)) return hr;
      break;
    }
    default:
      if (!IsPlain(src->vt)) return DISP_E_BADVARTYPE;
  }
  HRESULT hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *dest = copy;
  return S_OK;
}
