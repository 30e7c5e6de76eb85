// The smart wrappers every COM user needs: _bstr_t (shared BSTR with a
// narrow copy), _variant_t (a VARIANT cleared at scope end), _com_error and
// the _com_issue_error family, _com_ptr_t (counted object reference), and
// the thread's last system error as a failure code.
#pragma once

#include <exception>
#include <string>
#include <utility>

#include "platform/com/com.h"

class ZR_TString;

// The calling thread's last system error as a failure code.
// A positive system error becomes 0x8007xxxx; a value that is already a
// failure code passes unchanged. A conversion that failed without leaving
// an error behind still has to be reported as a failure, so 0 gives E_FAIL.
inline HRESULT LastErrorResult() {
  DWORD e = GetLastError();
  if (e == ERROR_SUCCESS) return E_FAIL;
  return HRESULT_FROM_WIN32(e);
}

// _bstr_t: a shared, reference-counted holder of a BSTR with a narrow
// (UTF-8) copy made on first use. Copies share the holder.
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

// Narrow (UTF-8) text to a new BSTR; null gives null. Throws on invalid
// input (the last system error) and E_OUTOFMEMORY.
BSTR NarrowToBstr(const char* narrow);
// A framework string to a new BSTR (the whole text).
BSTR StringToBstr(const ZR_TString& text);

// _variant_t: a VARIANT cleared when it goes out of scope.
class _variant_t : public VARIANT {
 public:
  _variant_t() noexcept { VariantInit(this); }
  _variant_t(const _variant_t&) = delete;
  _variant_t& operator=(const _variant_t&) = delete;
  ~_variant_t() { VariantClear(this); }
  void Clear() noexcept { VariantClear(this); }
};

// _com_error: the thrown error of every failing COM or ADO call.
class _com_error : public std::exception {
 public:
  // Takes over one reference of info when add_ref is false.
  explicit _com_error(HRESULT hr, IErrorInfo* info = nullptr, bool add_ref = false) noexcept;
  _com_error(const _com_error& other) noexcept;  // shares info, own meaning
  _com_error& operator=(const _com_error& other) noexcept;
  ~_com_error() override;

  HRESULT Error() const noexcept { return hr_; }
  IErrorInfo* ErrorInfo() const noexcept;  // a new reference, or null
  // Read from the error information; null texts without one or when the
  // read fails. Never throws.
  _bstr_t Source() const noexcept;
  _bstr_t Description() const noexcept;
  // The meaning of the code, built on the first call and kept (null when
  // even the fallback text could not be allocated).
  const OLECHAR* CodeMeaning() const noexcept;
  // "80004003 <meaning>" for logs and the middleware's error reply.
  const char* what() const noexcept override;

 private:
  HRESULT hr_;
  IErrorInfo* info_;
  mutable OLECHAR* meaning_ = nullptr;  // LocalAlloc'ed
  mutable std::string what_;
};

// Throws _com_error(hr) without error information.
[[noreturn]] void _com_issue_error(HRESULT hr);
// The call-and-check rule for a failed call on object: error information is
// taken only when the object's ISupportErrorInfo answers exactly S_OK for
// iid. Always throws.
[[noreturn]] void _com_issue_errorex(HRESULT hr, IUnknown* object, REFIID iid);
// Throws _com_error for the thread's last system error (0x8007xxxx for a
// positive code, the value unchanged otherwise).
[[noreturn]] void _com_issue_last_error();

// _com_ptr_t: the counted object reference through which every COM object
// is held. It releases its object exactly once; assigning another object
// references the new one before releasing the old; any use of an empty
// reference throws _com_error(E_POINTER) before a call is made.
template <class I>
class _com_ptr_t {
 public:
  _com_ptr_t() noexcept = default;
  // Takes over one reference of p when add_ref is false.
  _com_ptr_t(I* p, bool add_ref) noexcept : p_(p) {
    if (p_ && add_ref) p_->AddRef();
  }
  _com_ptr_t(const _com_ptr_t& o) noexcept : _com_ptr_t(o.p_, true) {}
  _com_ptr_t(_com_ptr_t&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ~_com_ptr_t() { Release(); }

  _com_ptr_t& operator=(const _com_ptr_t& o) noexcept { return Assign(o.p_); }
  _com_ptr_t& operator=(_com_ptr_t&& o) noexcept {
    if (this != &o) {
      I* old = std::exchange(p_, std::exchange(o.p_, nullptr));
      if (old) old->Release();
    }
    return *this;
  }
  // References p (AddRef) before releasing the old object; the same object
  // changes nothing.
  _com_ptr_t& Assign(I* p) noexcept {
    if (p != p_) {
      if (p) p->AddRef();
      I* old = std::exchange(p_, p);
      if (old) old->Release();
    }
    return *this;
  }

  I* operator->() const {
    if (!p_) _com_issue_error(E_POINTER);
    return p_;
  }
  I* Get() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void Release() noexcept {
    if (I* old = std::exchange(p_, nullptr)) old->Release();
  }
  // Releases the held object and hands out the slot for an out-parameter.
  I** ReceiveAddress() noexcept {
    Release();
    return &p_;
  }
  I* Detach() noexcept { return std::exchange(p_, nullptr); }

 private:
  I* p_ = nullptr;
};
