// _bstr_t: a shared, reference-counted holder of a BSTR with a narrow
// (UTF-8) copy made on first use. Copies share the holder.
#pragma once

#include <atomic>

#include "platform/com/com.h"

class ZR_TString;

class _bstr_t {
 public:
  _bstr_t() noexcept = default;                  // null text
  _bstr_t(BSTR text, bool copy);                 // copy=false takes text over
  _bstr_t(const char* narrow);                   // null stays null
  _bstr_t(const OLECHAR* wide);                  // null stays null
  explicit _bstr_t(const ZR_TString& text);      // the whole text
  _bstr_t(const _bstr_t& other) noexcept;
  _bstr_t(_bstr_t&& other) noexcept;
  _bstr_t& operator=(const _bstr_t& other) noexcept;
  _bstr_t& operator=(_bstr_t&& other) noexcept;
  ~_bstr_t();

  BSTR GetBSTR() const noexcept;   // the held BSTR (may be null), still owned
  BSTR copy() const;               // a new BSTR the caller frees; throws E_OUTOFMEMORY
  bool IsNull() const noexcept { return GetBSTR() == nullptr; }
  UINT length() const noexcept;    // UTF-16 units of the stored text
  // Narrow copy: the UTF-16 units before the first NUL, as UTF-8. Made on
  // first use and kept; null for a null text. Throws _com_error when the
  // text cannot be converted.
  const char* Narrow() const;
  operator const char*() const { return Narrow(); }

 private:
  struct Holder;
  Holder* h_ = nullptr;
};

// "(null)" for a null narrow text, as printf-style formats show it.
inline const char* OrNull(const char* s) { return s ? s : "(null)"; }
