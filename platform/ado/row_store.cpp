#include "platform/ado/row_store.h"

#include "platform/ado/odbc_api.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>
#include <string_view>

#include "platform/ado/driver_text.h"
#include "platform/ado/text_size.h"
#include "platform/ado/value_convert.h"

namespace zado {
namespace {

constexpr size_t kFirstChunk = 4096;
// Longest column name read (UTF-16 units); ODBC's lengths are 16-bit.
constexpr size_t kLongestName = 32767;
constexpr size_t kLargestChunk = 1 << 20;

int32_t ClampSize(size_t bytes) {
  return bytes > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(bytes);
}

template <class T>
T FromSlot(uint64_t slot) {
  T v;
  std::memcpy(&v, &slot, sizeof v);
  return v;
}

template <class T>
T Load(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class T>
uint64_t ToSlot(const T& v) {
  static_assert(sizeof(T) <= sizeof(uint64_t));
  uint64_t slot = 0;
  std::memcpy(&slot, &v, sizeof v);
  return slot;
}

// The 8-byte slot of a fixed-width value read in its C form.
uint64_t SlotFromC(ValueKind kind, const void* c) {
  switch (kind) {
    case ValueKind::kI2: case ValueKind::kI4: case ValueKind::kI8: return ToSlot(Load<SQLBIGINT>(c));
    case ValueKind::kUI1: case ValueKind::kUI2: case ValueKind::kUI4: case ValueKind::kUI8:
      return ToSlot(Load<SQLUBIGINT>(c));
    case ValueKind::kR4: return ToSlot(Load<SQLREAL>(c));
    case ValueKind::kR8: return ToSlot(Load<SQLDOUBLE>(c));
    case ValueKind::kBool: return Load<SQLCHAR>(c) != 0;
    default: return 0;  // dates are read as text
  }
}

// The slot of a fixed-width value read as text; false when the text is no
// such value (it is then kept as text).
bool SlotFromText(ValueKind kind, std::u16string_view text, uint64_t* slot) {
  if (IsInteger(kind)) return ParseInteger(text, IsUnsigned(kind), slot);
  DATE date = 0;
  if (IsDateTime(kind) && ParseDateTime(text, &date)) {
    *slot = ToSlot(date);
    return true;
  }
  return false;
}

// The length a driver reading at the declared width reports: that width,
// or 8 for a value that needed all 64 bits.
int32_t IntegerSize(ValueKind kind, uint64_t slot) {
  const int32_t declared = DeclaredWidth(kind);
  return FitsWidth(kind, slot, static_cast<size_t>(declared)) ? declared : 8;
}

// The length kept for a fixed-width value the driver reported with
// `indicator`.
int32_t SizeOf(ValueKind kind, uint64_t slot, SQLLEN indicator) {
  if (IsInteger(kind)) return IntegerSize(kind, slot);
  return indicator < 0 ? 0 : ClampSize(static_cast<size_t>(indicator));
}

// The VARIANT of an integer: the declared type's while the value fits it,
// else the 64-bit one of the same signedness.
void SetInteger(ValueKind kind, uint64_t slot, VARIANT* value) {
  const auto v = static_cast<int64_t>(slot);
  switch (kind) {
    case ValueKind::kI2:
      if (v >= INT16_MIN && v <= INT16_MAX) { value->vt = VT_I2; value->iVal = static_cast<SHORT>(v); return; }
      break;
    case ValueKind::kI4:
      if (v >= INT32_MIN && v <= INT32_MAX) { value->vt = VT_I4; value->lVal = static_cast<LONG>(v); return; }
      break;
    case ValueKind::kUI1:
      if (slot <= UINT8_MAX) { value->vt = VT_UI1; value->bVal = static_cast<BYTE>(slot); return; }
      break;
    case ValueKind::kUI2:
      if (slot <= UINT16_MAX) { value->vt = VT_UI2; value->uiVal = static_cast<USHORT>(slot); return; }
      break;
    case ValueKind::kUI4:
      if (slot <= UINT32_MAX) { value->vt = VT_UI4; value->ulVal = static_cast<zwin::ULONG>(slot); return; }
      break;
    default:
      break;
  }
  if (IsUnsigned(kind)) {
    value->vt = VT_UI8;
    value->ullVal = slot;
  } else {
    value->vt = VT_I8;
    value->llVal = v;
  }
}

}  // namespace

bool RowStore::Describe(SQLHSTMT stmt, SQLSMALLINT column_count, const DriverTraits& traits,
                        DiagList* diagnostics) {
  narrow_utf8_ = traits.narrow_utf8;
  columns_.clear();
  blocks_.clear();
  released_ = 0;
  text_bytes_ = 0;
  columns_.resize(static_cast<size_t>(column_count));
  for (SQLSMALLINT i = 1; i <= column_count; ++i) {
    ColumnInfo& info = columns_[static_cast<size_t>(i - 1)];
    std::u16string name(256, u'\0');
    SQLSMALLINT name_length = 0;
    SQLSMALLINT digits = 0;
    SQLRETURN rc = SQL_ERROR;
    // A name that fills the buffer may have been cut: some drivers report
    // the length they wrote instead of the whole length. Read it again into
    // a larger buffer until it fits with room to spare.
    for (;;) {
      rc = SQLDescribeColW(stmt, static_cast<SQLUSMALLINT>(i), reinterpret_cast<SQLWCHAR*>(name.data()),
                           static_cast<SQLSMALLINT>(name.size()), &name_length, &info.sql_type, &info.column_size,
                           &digits, &info.nullable);
      if (!SQL_SUCCEEDED(rc) || name_length < static_cast<SQLSMALLINT>(name.size()) - 1 ||
          name.size() >= kLongestName)
        break;
      name.assign(std::min(std::max(name.size() * 4, static_cast<size_t>(name_length) + 2), kLongestName), u'\0');
    }
    if (!SQL_SUCCEEDED(rc)) {
      ReadDiagnostics(SQL_HANDLE_STMT, stmt, diagnostics, narrow_utf8_);
      return false;
    }
    if (name_length < 0) name_length = 0;
    name.resize(std::min(static_cast<size_t>(name_length), name.size()));
    // A narrow driver's own name replaces the driver manager's UTF-16 copy,
    // which breaks characters beyond U+FFFF.
    if (narrow_utf8_ && !ReadNarrowColumnName(stmt, static_cast<SQLUSMALLINT>(i), &name)) {
      ReadDiagnostics(SQL_HANDLE_STMT, stmt, diagnostics, narrow_utf8_);
      return false;
    }
    info.has_name = !name.empty();
    info.name = std::move(name);
    if (info.sql_type == SQL_TINYINT || info.sql_type == SQL_SMALLINT || info.sql_type == SQL_INTEGER ||
        info.sql_type == SQL_BIGINT) {
      SQLLEN is_unsigned = SQL_FALSE;
      if (SQL_SUCCEEDED(SQLColAttributeW(stmt, static_cast<SQLUSMALLINT>(i), SQL_DESC_UNSIGNED, nullptr, 0,
                                         nullptr, &is_unsigned)))
        info.is_unsigned = is_unsigned == SQL_TRUE;
    }
    MapColumnType(&info);
    info.read_as_text = IsDateTime(info.kind) || (IsInteger(info.kind) && !traits.values_keep_declared_types);
  }
  rows_ = 0;
  return true;
}

bool RowStore::AppendRow(SQLHSTMT stmt, DiagList* diagnostics) {
  for (size_t i = 0; i < columns_.size(); ++i)
    if (!ReadCell(stmt, i, diagnostics)) return false;
  ++rows_;
  return true;
}

ColumnBlock& RowStore::Adding(size_t column) {
  const size_t block = rows_ / kBlockRows;
  if (block == blocks_.size()) {
    auto added = std::make_unique<Block>();
    added->columns.reserve(columns_.size());
    for (const ColumnInfo& info : columns_) added->columns.emplace_back(info.kind);
    blocks_.push_back(std::move(added));
  }
  return blocks_[block]->columns[column];
}

void RowStore::ReleaseBefore(size_t row) {
  const size_t end = std::min(row / kBlockRows, blocks_.size());
  for (; released_ < end; ++released_) blocks_[released_].reset();
}

bool RowStore::ReadCell(SQLHSTMT stmt, size_t column_index, DiagList* diagnostics) {
  const ColumnInfo& info = columns_[column_index];
  const auto number = static_cast<SQLUSMALLINT>(column_index + 1);
  if (IsVariable(info.kind)) return ReadVariable(stmt, number, column_index, diagnostics);
  if (!info.read_as_text) return ReadFixed(stmt, number, column_index, diagnostics);
  scratch_.resize(0);
  bool is_null = false;
  if (!ReadWhole(stmt, number, SQL_C_WCHAR, &scratch_, &is_null, diagnostics)) return false;
  if (is_null) {
    PushNull(column_index);
  } else {
    PushFixedText(column_index, scratch_.data(), scratch_.size());
  }
  return true;
}

void RowStore::PushFixedText(size_t column_index, const uint8_t* data, size_t length) {
  ColumnBlock& column = Adding(column_index);
  // The text of a number or a date is short: it is parsed from the stack,
  // and only a value kept as text gets storage of its own.
  const size_t units = length / sizeof(char16_t);
  char16_t small[64];
  std::u16string large;
  if (units > std::size(small)) large.resize(units);
  char16_t* chars = units > std::size(small) ? large.data() : small;
  if (units) std::memcpy(chars, data, units * sizeof(char16_t));
  const std::u16string_view text(chars, units);
  column.AddNullBit(false);
  uint64_t slot = 0;
  const ValueKind kind = column.kind;
  if (SlotFromText(kind, text, &slot)) {
    const int32_t size = IsInteger(kind) ? IntegerSize(kind, slot) : FixedWidth(kind);
    column.AddFixed(slot, size);
    AddText(size == 0 ? 0 : FixedTextFloor(kind, slot));
  } else {
    column.AddFixed(0, ClampSize(units * sizeof(char16_t)));
    column.texts.emplace(column.count, std::u16string(text));
    AddText(Utf8LengthOfUtf16(data, units * sizeof(char16_t)));
  }
  ++column.count;
}

void RowStore::PushFixed(size_t column_index, const void* c_value, SQLLEN indicator) {
  ColumnBlock& column = Adding(column_index);
  column.AddNullBit(false);
  const uint64_t slot = SlotFromC(column.kind, c_value);
  const int32_t size = SizeOf(column.kind, slot, indicator);
  column.AddFixed(slot, size);
  // A value of length 0 is shown as nothing.
  AddText(size == 0 ? 0 : FixedTextFloor(column.kind, slot));
  ++column.count;
}

// The bytes of a variable value were appended to the block's buffer from
// start on: keeps them and counts their text.
void RowStore::AddVariable(size_t column_index, size_t start) {
  ColumnBlock& column = blocks_[rows_ / kBlockRows]->columns[column_index];
  const size_t length = column.bytes.size() - start;
  switch (column.kind) {
    case ValueKind::kText: AddText(column.KeepText(start)); break;
    case ValueKind::kBinary: AddText(2 * length); break;  // two hex digits per byte
    default: AddText(length == 0 ? 0 : DecimalTextFloor(column.bytes.data() + start, length)); break;
  }
  column.AddEnd();
  ++column.count;
}

void RowStore::PushBytes(size_t column_index, const uint8_t* data, size_t length) {
  ColumnBlock& column = Adding(column_index);
  column.AddNullBit(false);
  const size_t start = column.bytes.size();
  column.bytes.append(data, length);
  AddVariable(column_index, start);
}

void RowStore::PushNull(size_t column_index) {
  ColumnBlock& column = Adding(column_index);
  column.AddNullBit(true);
  if (IsVariable(column.kind)) {
    column.AddEnd();
  } else {
    column.AddFixed(0, -1);
  }
  AddText(0);
  ++column.count;
}

bool RowStore::ReadFixed(SQLHSTMT stmt, SQLUSMALLINT number, size_t column, DiagList* diagnostics) {
  alignas(8) unsigned char buffer[32] = {};
  SQLLEN indicator = 0;
  SQLRETURN rc = SQLGetData(stmt, number, CTypeFor(columns_[column].kind), buffer, sizeof buffer, &indicator);
  if (!SQL_SUCCEEDED(rc)) {
    ReadDiagnostics(SQL_HANDLE_STMT, stmt, diagnostics, narrow_utf8_);
    return false;
  }
  if (indicator == SQL_NULL_DATA) {
    PushNull(column);
  } else {
    PushFixed(column, buffer, indicator);
  }
  return true;
}

bool RowStore::ReadVariable(SQLHSTMT stmt, SQLUSMALLINT number, size_t column_index, DiagList* diagnostics) {
  ColumnBlock& column = Adding(column_index);
  const size_t start = column.bytes.size();
  bool is_null = false;
  if (!ReadWhole(stmt, number, CTypeFor(column.kind), &column.bytes, &is_null, diagnostics)) return false;
  if (is_null) {
    PushNull(column_index);
    return true;
  }
  column.AddNullBit(false);
  AddVariable(column_index, start);
  return true;
}

// Reads a text or binary value in chunks straight onto the end of bytes, so
// a long value arrives whole; or, past the text limit, only its start.
bool RowStore::ReadWhole(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT c_type, PodArray<uint8_t>* out,
                         bool* is_null, DiagList* diagnostics) const {
  const bool binary = c_type == SQL_C_BINARY;
  const size_t terminator = binary ? 0 : sizeof(SQLWCHAR);
  PodArray<uint8_t>& bytes = *out;
  const size_t start = bytes.size();
  size_t used = start;
  size_t chunk = kFirstChunk;
  *is_null = false;
  for (;;) {
    bytes.resize(used + chunk);
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(stmt, number, c_type, bytes.data() + used, static_cast<SQLLEN>(chunk), &indicator);
    if (rc == SQL_NO_DATA) break;  // everything was read by the previous call
    if (!SQL_SUCCEEDED(rc)) {
      bytes.resize(start);
      ReadDiagnostics(SQL_HANDLE_STMT, stmt, diagnostics, narrow_utf8_);
      return false;
    }
    if (indicator == SQL_NULL_DATA) {
      *is_null = true;
      break;
    }
    const size_t room = chunk - terminator;
    if (indicator != SQL_NO_TOTAL && indicator >= 0 && static_cast<size_t>(indicator) <= room) {
      used += static_cast<size_t>(indicator);  // the rest of the value fitted
      break;
    }
    // Cut: the buffer is full up to the terminator; more follows.
    used += binary ? room : room - room % sizeof(SQLWCHAR);
    // A text or binary whose part read so far passes the text limit on its
    // own (a UTF-16 unit or a byte is at least one byte of text) is not read
    // on: the result is refused anyway. (A number read as text is read whole:
    // its text may be longer than the number's.)
    if (out != &scratch_ && text_limit_ != 0 && text_bytes_ + (used - start) / (binary ? 1 : 2) > text_limit_)
      break;
    if (indicator != SQL_NO_TOTAL && indicator > 0 && static_cast<size_t>(indicator) > room) {
      chunk = static_cast<size_t>(indicator) - room + terminator;
    } else {
      chunk = std::min(chunk * 2, kLargestChunk);
    }
  }
  bytes.resize(used);
  return true;
}

LONG RowStore::ActualSize(size_t row, size_t column) const {
  const ColumnBlock& data = Cell(row, column);
  const size_t r = row % kBlockRows;
  if (data.IsNull(r)) return 0;
  if (IsVariable(data.kind)) {
    const size_t stored = data.ends.End(r) - data.ends.Begin(r);
    return ClampSize(data.narrow ? stored * 2 : stored);  // UTF-16 bytes, as the driver said
  }
  return data.Size(r);
}

HRESULT RowStore::Value(size_t row, size_t column_index, VARIANT* value) const {
  VariantInit(value);
  const ColumnBlock& column = Cell(row, column_index);
  const size_t r = row % kBlockRows;
  if (column.IsNull(r)) {
    value->vt = VT_NULL;
    return S_OK;
  }
  const ValueKind kind = column.kind;
  if (kind == ValueKind::kText || kind == ValueKind::kDecimal || kind == ValueKind::kBinary) {
    const size_t begin = column.ends.Begin(r);
    const size_t length = column.ends.End(r) - begin;
    const uint8_t* data = column.bytes.data() + begin;
    if (kind == ValueKind::kBinary) {
      SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<zwin::ULONG>(length));
      if (!array) return E_OUTOFMEMORY;
      if (length) std::memcpy(array->pvData, data, length);
      value->vt = VT_ARRAY | VT_UI1;
      value->parray = array;
      return S_OK;
    }
    if (kind == ValueKind::kDecimal) {
      std::u16string text(length / sizeof(char16_t), u'\0');
      if (length) std::memcpy(text.data(), data, text.size() * sizeof(char16_t));
      return NumericTextToVariant(text, value);
    }
    if (column.narrow) {
      BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(length));
      if (!text) return E_OUTOFMEMORY;
      for (size_t i = 0; i < length; ++i) text[i] = data[i];
      value->vt = VT_BSTR;
      value->bstrVal = text;
      return S_OK;
    }
    // SysAllocStringByteLen copies bytes, so the buffer needs no alignment.
    BSTR text = SysAllocStringByteLen(reinterpret_cast<const char*>(data), static_cast<UINT>(length));
    if (!text) return E_OUTOFMEMORY;
    value->vt = VT_BSTR;
    value->bstrVal = text;
    return S_OK;
  }
  if (!column.texts.empty()) {
    const auto text = column.texts.find(r);
    if (text != column.texts.end()) {
      value->bstrVal = SysAllocStringLen(text->second.data(), static_cast<UINT>(text->second.size()));
      if (!value->bstrVal) return E_OUTOFMEMORY;
      value->vt = VT_BSTR;
      return S_OK;
    }
  }
  const uint64_t slot = column.Slot(r);
  if (IsInteger(kind)) {
    SetInteger(kind, slot, value);
    return S_OK;
  }
  switch (kind) {
    case ValueKind::kR4: value->vt = VT_R4; value->fltVal = FromSlot<float>(slot); break;
    case ValueKind::kR8: value->vt = VT_R8; value->dblVal = FromSlot<double>(slot); break;
    case ValueKind::kBool: value->vt = VT_BOOL; value->boolVal = slot ? VARIANT_TRUE : VARIANT_FALSE; break;
    case ValueKind::kDate:
    case ValueKind::kTime:
    case ValueKind::kTimestamp: value->vt = VT_DATE; value->date = FromSlot<double>(slot); break;
    default: break;
  }
  return S_OK;
}

}  // namespace zado
