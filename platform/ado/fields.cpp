#include "platform/ado/fields.h"

#include <new>
#include <string>
#include <vector>

#include "platform/ado/dispatch_object.h"
#include "platform/ado/errors.h"
#include "platform/ado/failure.h"

namespace zado {
namespace {

char16_t FoldAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

// Field names compare without regard to the case of ASCII letters.
bool SameName(const std::u16string& a, BSTR b) {
  const UINT n = SysStringLen(b);
  if (a.size() != n) return false;
  for (UINT i = 0; i < n; ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

class AdoField final : public DispatchObject<Field> {
 public:
  AdoField(std::shared_ptr<const Cursor> cursor, size_t column) : cursor_(std::move(cursor)), column_(column) {}

  HRESULT get_Name(BSTR* name) override {
    if (!name) return FieldFail(E_POINTER);
    *name = nullptr;
    const RowStore* rows = Rows();
    if (!rows) return FieldFail(adErrObjectClosed);
    const ColumnInfo& info = rows->Column(column_);
    if (!info.has_name) return S_OK;  // the driver gave no name
    *name = SysAllocStringLen(info.name.data(), static_cast<UINT>(info.name.size()));
    return *name ? S_OK : FieldFail(E_OUTOFMEMORY);
  }

  HRESULT get_Value(VARIANT* value) override {
    if (!value) return FieldFail(E_POINTER);
    VariantInit(value);
    const RowStore* rows = nullptr;
    if (HRESULT hr = CurrentRecord(&rows); FAILED(hr)) return hr;
    const HRESULT hr = rows->Value(cursor_->position, column_, value);
    return FAILED(hr) ? FieldFail(hr) : S_OK;
  }

  HRESULT get_Type(LONG* type) override {
    if (!type) return FieldFail(E_POINTER);
    const RowStore* rows = Rows();
    if (!rows) return FieldFail(adErrObjectClosed);
    *type = rows->Column(column_).ado_type;
    return S_OK;
  }

  HRESULT get_ActualSize(LONG* size) override {
    if (!size) return FieldFail(E_POINTER);
    const RowStore* rows = nullptr;
    if (HRESULT hr = CurrentRecord(&rows); FAILED(hr)) return hr;
    *size = rows->ActualSize(cursor_->position, column_);
    return S_OK;
  }

  HRESULT get_DefinedSize(LONG* size) override {
    if (!size) return FieldFail(E_POINTER);
    const RowStore* rows = Rows();
    if (!rows) return FieldFail(adErrObjectClosed);
    *size = rows->Column(column_).defined_size;
    return S_OK;
  }

  HRESULT get_Attributes(LONG* attributes) override {
    if (!attributes) return FieldFail(E_POINTER);
    const RowStore* rows = Rows();
    if (!rows) return FieldFail(adErrObjectClosed);
    *attributes = rows->Column(column_).attributes;
    return S_OK;
  }

  HRESULT get_Status(LONG* status) override {
    if (!status) return Fail(IID_Field, kRecordsetSource, E_POINTER);
    if (!Rows()) return Fail(IID_Field, kRecordsetSource, adErrObjectClosed);
    *status = adFieldOK;
    return S_OK;
  }

 protected:
  bool IsOwnInterface(REFIID riid) const override { return riid == IID_Field || riid == IID_Field20; }
  bool NamesInFailures(REFIID riid) const override { return riid == IID_Field || riid == IID_Field20; }

 private:
  ~AdoField() override = default;

  static HRESULT FieldFail(HRESULT hr) { return Fail(IID_Field20, kRecordsetSource, hr); }

  HRESULT CurrentRecord(const RowStore** rows) const {
    *rows = Rows();
    if (!*rows) return FieldFail(adErrObjectClosed);
    // Past the last row, or a row a forward walk has given back.
    if (!(*rows)->Held(cursor_->position)) return FieldFail(adErrNoCurrentRecord);
    return S_OK;
  }

  // The rows of the opening this field was made for; null once it ended.
  const RowStore* Rows() const { return cursor_->rows.get(); }

  std::shared_ptr<const Cursor> cursor_;
  size_t column_;
};

class AdoFields final : public DispatchObject<Fields> {
 public:
  explicit AdoFields(std::shared_ptr<const Cursor> cursor) : cursor_(std::move(cursor)) {}

  HRESULT get_Count(LONG* count) override {
    if (!count) return Fail(IID__Collection, kRecordsetSource, E_POINTER);
    const RowStore* rows = Rows();
    if (!rows) return Fail(IID__Collection, kRecordsetSource, adErrObjectClosed);
    *count = static_cast<LONG>(rows->ColumnCount());
    return S_OK;
  }

  HRESULT get_Item(VARIANT index, Field** item) override {
    if (!item) return ItemFail(E_POINTER);
    *item = nullptr;
    const RowStore* rows = Rows();
    if (!rows) return ItemFail(adErrObjectClosed);
    size_t column = 0;
    long long position = 0;
    if (IndexFromVariant(index, &position)) {
      if (position < 0 || static_cast<unsigned long long>(position) >= rows->ColumnCount())
        return ItemFail(adErrItemNotFound);
      column = static_cast<size_t>(position);
    } else if (index.vt == VT_BSTR) {
      column = rows->ColumnCount();
      for (size_t i = 0; i < rows->ColumnCount(); ++i) {
        if (rows->Column(i).has_name && SameName(rows->Column(i).name, index.bstrVal)) {
          column = i;
          break;
        }
      }
      if (column == rows->ColumnCount()) return ItemFail(adErrItemNotFound);
    } else {
      return ItemFail(adErrInvalidArgument);
    }
    if (items_.size() != rows->ColumnCount()) {
      try {
        items_.resize(rows->ColumnCount());
      } catch (const std::bad_alloc&) {
        return ItemFail(E_OUTOFMEMORY);
      }
    }
    Ref<AdoField>& made = items_[column];
    if (!made) {
      made = Ref<AdoField>(new (std::nothrow) AdoField(cursor_, column));
      if (!made) return ItemFail(E_OUTOFMEMORY);
    }
    *item = made.AddRefed();
    return S_OK;
  }

 protected:
  bool IsOwnInterface(REFIID riid) const override {
    return riid == IID_Fields || riid == IID_Fields15 || riid == IID__Collection;
  }
  bool NamesInFailures(REFIID riid) const override { return riid == IID_Fields15 || riid == IID__Collection; }

 private:
  ~AdoFields() override = default;

  static HRESULT ItemFail(HRESULT hr) { return Fail(IID_Fields15, kRecordsetSource, hr); }

  const RowStore* Rows() const { return cursor_->rows.get(); }

  std::shared_ptr<const Cursor> cursor_;
  // One Field object per column, made at its first lookup. Fields are not
  // shared between threads (a recordset is used by one request at a time).
  std::vector<Ref<AdoField>> items_;
};

}  // namespace

Fields* NewFields(std::shared_ptr<const Cursor> cursor) { return new (std::nothrow) AdoFields(std::move(cursor)); }

}  // namespace zado
