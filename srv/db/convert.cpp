#include "srv/db/convert.h"

#include <memory>

#include "platform/com/comsupp.h"

_bstr_t VariantToText(const VARIANT& value) {
  if (value.vt == VT_BSTR) return _bstr_t(value.bstrVal, true);
  _variant_t text;
  const HRESULT hr = VariantChangeType(&text, &value, 0, VT_BSTR);
  if (FAILED(hr)) _com_issue_error(hr);
  // Take the converted text over instead of copying it once more.
  BSTR owned = text.bstrVal;
  text.vt = VT_EMPTY;
  return _bstr_t(owned, false);
}

ZR_TString VariantToString(const VARIANT& value) {
  // A text is read where it is, without the copy VariantToText makes.
  if (value.vt == VT_BSTR) return ZR_TString(static_cast<const char16_t*>(value.bstrVal), ZR_TString::kWhole);
  const _bstr_t text = VariantToText(value);
  return ZR_TString(static_cast<const char16_t*>(text.GetBSTR()), ZR_TString::kWhole);
}

double VariantToDouble(const VARIANT& value) {
  if (value.vt == VT_R8) return value.dblVal;
  _variant_t number;
  const HRESULT hr = VariantChangeType(&number, &value, 0, VT_R8);
  if (FAILED(hr)) _com_issue_error(hr);
  return number.dblVal;
}

_bstr_t LongToText(LONG value) {
  _variant_t number;
  number.vt = VT_I4;
  number.lVal = value;
  return VariantToText(number);
}

void BstrToVariant(BSTR text, VARIANT* out) {
  BSTR copy = nullptr;
  if (text) {
    copy = SysAllocStringByteLen(reinterpret_cast<const char*>(text), SysStringByteLen(text));
    if (!copy) _com_issue_error(E_OUTOFMEMORY);
  }
  VariantInit(out);
  out->vt = VT_BSTR;
  out->bstrVal = copy;
}

std::string StringToNarrow(const ZR_TString& text) {
  const std::u16string wide = text.ToUtf16();
  if (wide.empty()) return {};
  const int len = static_cast<int>(wide.size());
  const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), len, nullptr, 0, nullptr, nullptr);
  if (size <= 0) _com_issue_last_error();
  std::string narrow(static_cast<size_t>(size), '\0');
  if (WideCharToMultiByte(CP_ACP, 0, wide.data(), len, narrow.data(), size, nullptr, nullptr) <= 0)
    _com_issue_last_error();
  return narrow;
}
