#include "platform/ado/errors.h"

#include <new>
#include <string>

#include "platform/ado/dispatch_object.h"
#include "platform/ado/failure.h"

namespace zado {
namespace {

BSTR NewBstr(const std::u16string& text) {
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

class AdoError final : public DispatchObject<Error> {
 public:
  AdoError(SharedDiagList records, size_t index) : records_(std::move(records)), index_(index) {}

  HRESULT get_Number(LONG* number) override {
    if (!number) return Fail(IID_Error, kConnectionSource, E_POINTER);
    *number = E_FAIL;  // every record comes from the driver
    return S_OK;
  }
  HRESULT get_Description(BSTR* description) override {
    if (!description) return Fail(IID_Error, kConnectionSource, E_POINTER);
    const DiagRecord& r = Record();
    *description = NewBstr(u"[" + r.sql_state + u"] " + r.message);
    return *description ? S_OK : Fail(IID_Error, kConnectionSource, E_OUTOFMEMORY);
  }
  HRESULT get_Source(BSTR* source) override {
    if (!source) return Fail(IID_Error, kConnectionSource, E_POINTER);
    *source = SysAllocString(kConnectionSource);
    return *source ? S_OK : Fail(IID_Error, kConnectionSource, E_OUTOFMEMORY);
  }
  HRESULT get_SQLState(BSTR* state) override {
    if (!state) return Fail(IID_Error, kConnectionSource, E_POINTER);
    *state = NewBstr(Record().sql_state);
    return *state ? S_OK : Fail(IID_Error, kConnectionSource, E_OUTOFMEMORY);
  }
  HRESULT get_NativeError(LONG* native) override {
    if (!native) return Fail(IID_Error, kConnectionSource, E_POINTER);
    *native = Record().native_error;
    return S_OK;
  }

 protected:
  bool IsOwnInterface(REFIID riid) const override { return riid == IID_Error; }
  bool NamesInFailures(REFIID riid) const override { return riid == IID_Error; }

 private:
  const DiagRecord& Record() const { return (*records_)[index_]; }

  SharedDiagList records_;
  size_t index_;
};

class AdoErrors final : public DispatchObject<Errors> {
 public:
  explicit AdoErrors(SharedDiagList records) : records_(std::move(records)) {}

  HRESULT get_Count(LONG* count) override {
    if (!count) return Fail(IID__Collection, kConnectionSource, E_POINTER);
    *count = static_cast<LONG>(records_->size());
    return S_OK;
  }
  HRESULT get_Item(VARIANT index, Error** item) override {
    if (!item) return Fail(IID_Errors, kConnectionSource, E_POINTER);
    *item = nullptr;
    long long position = 0;
    if (!IndexFromVariant(index, &position))
      return Fail(IID_Errors, kConnectionSource, adErrInvalidArgument);
    if (position < 0 || static_cast<unsigned long long>(position) >= records_->size())
      return Fail(IID_Errors, kConnectionSource, adErrItemNotFound);
    *item = new (std::nothrow) AdoError(records_, static_cast<size_t>(position));
    return *item ? S_OK : Fail(IID_Errors, kConnectionSource, E_OUTOFMEMORY);
  }

 protected:
  bool IsOwnInterface(REFIID riid) const override {
    return riid == IID_Errors || riid == IID__Collection;
  }
  bool NamesInFailures(REFIID riid) const override {
    return riid == IID_Errors || riid == IID__Collection;
  }

 private:
  SharedDiagList records_;
};

}  // namespace

Errors* NewErrors(SharedDiagList records) {
  if (!records) records = std::make_shared<const DiagList>();
  return new (std::nothrow) AdoErrors(std::move(records));
}

bool IndexFromVariant(const VARIANT& index, long long* position) {
  switch (index.vt) {
    case VT_I1: *position = index.cVal; return true;
    case VT_UI1: *position = index.bVal; return true;
    case VT_I2: *position = index.iVal; return true;
    case VT_UI2: *position = index.uiVal; return true;
    case VT_I4: case VT_INT: *position = index.lVal; return true;
    case VT_UI4: case VT_UINT: *position = index.ulVal; return true;
    case VT_I8: *position = index.llVal; return true;
    case VT_UI8:
      // Anything past the signed range is out of every collection anyway.
      *position = index.ullVal > static_cast<ULONGLONG>(INT64_MAX) ? INT64_MAX
                                                                   : static_cast<long long>(index.ullVal);
      return true;
    default:
      return false;
  }
}

}  // namespace zado
