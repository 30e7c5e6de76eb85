// _com_error: the thrown error of every failing COM or ADO call.
#pragma once

#include <exception>
#include <string>

#include "platform/com/com.h"
#include "srv/db/bstr.h"

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
