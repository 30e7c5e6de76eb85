// Helpers of the data-object tests: COM set-up, owned references and
// values, and the error information of the last failure.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/ado/ado.h"

namespace adotest {

// COM on the calling thread for the lifetime of the object.
struct ComScope {
  ComScope() { CoInitialize(nullptr); }
  ~ComScope() { CoUninitialize(); }
};

template <class T>
class Ptr {
 public:
  Ptr() = default;
  Ptr(const Ptr&) = delete;
  Ptr& operator=(const Ptr&) = delete;
  ~Ptr() { Reset(); }
  void Reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }
  T** Out() {
    Reset();
    return &p_;
  }
  T* operator->() const { return p_; }
  T* get() const { return p_; }

 private:
  T* p_ = nullptr;
};

// A VARIANT cleared when it goes out of scope.
struct Var {
  VARIANT v;
  Var() { VariantInit(&v); }
  explicit Var(const char16_t* text) {
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text);
  }
  explicit Var(const std::u16string& text) {
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  }
  static Var I2(SHORT i) {
    Var r;
    r.v.vt = VT_I2;
    r.v.iVal = i;
    return r;
  }
  static Var I4(LONG i) {
    Var r;
    r.v.vt = VT_I4;
    r.v.lVal = i;
    return r;
  }
  Var(Var&& o) noexcept : v(o.v) { VariantInit(&o.v); }
  Var(const Var&) = delete;
  ~Var() { VariantClear(&v); }
};

std::u16string U16(const std::string& utf8);
std::string U8(const std::u16string& text);
std::string U8(BSTR text);

// Takes the thread's error information: "source|description", or "" when
// there is none.
std::string TakeErrorInfo();

_Connection* NewConnection();
_Recordset* NewRecordset();

// Opens a recordset on a connection string; returns Open's result.
HRESULT OpenRecordset(_Recordset* rs, const std::string& sql, const std::string& connection);

// The sample data source [sample] of contrib/odbc.ini is the tests' own:
// the tests' DSN test_dsn has the same driver settings (every key but the
// place to connect to), the README shows the same sample as [readme], and a
// DSN made from the sample connects and runs a statement.
void ExpectSampleIsTheTestsDsn(const std::string& sample, const std::string& readme, const std::string& test_dsn);

// The fields of the current record; each helper fails the test on error.
Field* GetField(_Recordset* rs, LONG index);
std::string FieldText(_Recordset* rs, LONG index);  // VT_BSTR values only

}  // namespace adotest
