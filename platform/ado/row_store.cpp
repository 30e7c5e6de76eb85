#include "platform/ado/row_store.h"

#include "platform/ado/odbc_api.h"

#include <climits>
#include <cstring>
#include <iterator>
#include <string_view>

#include "platform/ado/driver_text.h"
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

// Bytes kept per value of a fixed-width kind (the slot's low bytes) while
// every value fits them.
size_t WidthOf(ValueKind kind) {
  if (IsInteger(kind)) return static_cast<size_t>(DeclaredWidth(kind));
  if (kind == ValueKind::kBool) return 1;
  if (kind == ValueKind::kR4) return 4;
  return 8;  // doubles, and dates as DATE
}

// Whether an integer slot (a 64-bit value, signed or not as its kind is)
// survives being kept in its low `width` bytes.
bool FitsWidth(ValueKind kind, uint64_t slot, size_t width) {
  if (width >= 8) return true;
  const unsigned bits = static_cast<unsigned>(width * 8);
  if (IsUnsigned(kind)) return (slot >> bits) == 0;
  const auto v = static_cast<int64_t>(slot);
  return v >= -(int64_t{1} << (bits - 1)) && v < (int64_t{1} << (bits - 1));
}

// An integer kept in `width` bytes back as its 64-bit slot.
uint64_t Extend(ValueKind kind, uint64_t low, size_t width) {
  if (width >= 8 || IsUnsigned(kind)) return low;
  const unsigned shift = static_cast<unsigned>(64 - width * 8);
  return static_cast<uint64_t>(static_cast<int64_t>(low << shift) >> shift);
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
      if (slot <= UINT32_MAX) { value->vt = VT_UI4; value->ulVal = static_cast<ULONG>(slot); return; }
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

void RowStore::ColumnData::AddNullBit(bool is_null) {
  if (count % 64 == 0) nulls.push_back(0);
  if (is_null) nulls.back() |= uint64_t{1} << (count % 64);
}

void RowStore::ColumnData::Widen() {
  PodArray<uint8_t> wide(count * 8);
  for (size_t row = 0; row < count; ++row) {
    uint64_t low = 0;
    std::memcpy(&low, fixed.data() + row * width, width);
    const uint64_t slot = Extend(info.kind, low, width);
    std::memcpy(wide.data() + row * 8, &slot, 8);
  }
  fixed.swap(wide);
  width = 8;
}

void RowStore::ColumnData::AddFixed(uint64_t slot, int32_t size) {
  if (IsInteger(info.kind) && !FitsWidth(info.kind, slot, width)) Widen();
  const size_t at = fixed.size();
  fixed.resize(at + width);
  std::memcpy(fixed.data() + at, &slot, width);  // the low bytes hold the value
  if (usual_size < 0 && size >= 0) usual_size = size;
  if (size >= 0 && size != usual_size) other_sizes.emplace(count, size);
}

void RowStore::ColumnData::AddEnd() {
  // Offsets are 32-bit: a column of 4 GiB and more is refused as too large
  // rather than wrapped.
  if (bytes.size() > UINT32_MAX) throw std::bad_alloc();
  ends.push_back(static_cast<uint32_t>(bytes.size()));
}

void RowStore::ColumnData::KeepText(size_t start) {
  if (!narrow) return;
  const size_t units = (bytes.size() - start) / 2;
  bool fits = true;
  for (size_t i = 0; i < units && fits; ++i) fits = bytes[start + 2 * i + 1] == 0;
  if (fits) {
    for (size_t i = 0; i < units; ++i) bytes[start + i] = bytes[start + 2 * i];
    bytes.resize(start + units);
    return;
  }
  // The first character past U+00FF: every earlier value gets two bytes per
  // character again (little-endian UTF-16, as the driver gave them).
  if (start > UINT32_MAX / 2) throw std::bad_alloc();
  PodArray<uint8_t> wide(start * 2 + (bytes.size() - start));
  for (size_t i = 0; i < start; ++i) wide[2 * i] = bytes[i];
  std::memcpy(wide.data() + start * 2, bytes.data() + start, bytes.size() - start);
  bytes.swap(wide);
  for (size_t i = 0; i < ends.size(); ++i) ends[i] *= 2;
  narrow = false;
}

bool RowStore::Describe(SQLHSTMT stmt, SQLSMALLINT column_count, const DriverTraits& traits,
                        DiagList* diagnostics) {
  narrow_utf8_ = traits.narrow_utf8;
  columns_.clear();
  columns_.resize(static_cast<size_t>(column_count));
  for (SQLSMALLINT i = 1; i <= column_count; ++i) {
    ColumnInfo& info = columns_[static_cast<size_t>(i - 1)].info;
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
    columns_[static_cast<size_t>(i - 1)].width = WidthOf(info.kind);
    columns_[static_cast<size_t>(i - 1)].narrow = info.kind == ValueKind::kText;
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

bool RowStore::ReadCell(SQLHSTMT stmt, size_t column_index, DiagList* diagnostics) {
  ColumnData& column = columns_[column_index];
  const auto number = static_cast<SQLUSMALLINT>(column_index + 1);
  if (IsVariable(column.info.kind)) return ReadVariable(stmt, number, &column, diagnostics);
  if (!column.info.read_as_text) return ReadFixed(stmt, number, &column, diagnostics);
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
  ColumnData& column = columns_[column_index];
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
  const ValueKind kind = column.info.kind;
  if (SlotFromText(kind, text, &slot)) {
    column.AddFixed(slot, IsInteger(kind) ? IntegerSize(kind, slot) : FixedWidth(kind));
  } else {
    column.AddFixed(0, ClampSize(units * sizeof(char16_t)));
    column.texts.emplace(column.count, std::u16string(text));
  }
  ++column.count;
}

void RowStore::PushFixed(size_t column_index, const void* c_value, SQLLEN indicator) {
  ColumnData& column = columns_[column_index];
  column.AddNullBit(false);
  const uint64_t slot = SlotFromC(column.info.kind, c_value);
  column.AddFixed(slot, SizeOf(column.info.kind, slot, indicator));
  ++column.count;
}

void RowStore::PushBytes(size_t column_index, const uint8_t* data, size_t length) {
  ColumnData& column = columns_[column_index];
  column.AddNullBit(false);
  const size_t start = column.bytes.size();
  column.bytes.append(data, length);
  column.KeepText(start);
  column.AddEnd();
  ++column.count;
}

void RowStore::PushNull(size_t column_index) {
  ColumnData& column = columns_[column_index];
  column.AddNullBit(true);
  if (IsVariable(column.info.kind)) {
    column.AddEnd();
  } else {
    column.AddFixed(0, -1);
  }
  ++column.count;
}

bool RowStore::ReadFixed(SQLHSTMT stmt, SQLUSMALLINT number, ColumnData* column, DiagList* diagnostics) {
  alignas(8) unsigned char buffer[32] = {};
  SQLLEN indicator = 0;
  const ValueKind kind = column->info.kind;
  SQLRETURN rc = SQLGetData(stmt, number, CTypeFor(kind), buffer, sizeof buffer, &indicator);
  if (!SQL_SUCCEEDED(rc)) {
    ReadDiagnostics(SQL_HANDLE_STMT, stmt, diagnostics, narrow_utf8_);
    return false;
  }
  const bool is_null = indicator == SQL_NULL_DATA;
  column->AddNullBit(is_null);
  const uint64_t slot = is_null ? 0 : SlotFromC(kind, buffer);
  column->AddFixed(slot, is_null ? -1 : SizeOf(kind, slot, indicator));
  ++column->count;
  return true;
}

bool RowStore::ReadVariable(SQLHSTMT stmt, SQLUSMALLINT number, ColumnData* column, DiagList* diagnostics) {
  const size_t start = column->bytes.size();
  bool is_null = false;
  if (!ReadWhole(stmt, number, CTypeFor(column->info.kind), &column->bytes, &is_null, diagnostics)) return false;
  column->KeepText(start);
  column->AddNullBit(is_null);
  column->AddEnd();
  ++column->count;
  return true;
}

// Reads a text or binary value in chunks straight onto the end of bytes, so
// a long value arrives whole.
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
  const ColumnData& data = columns_[column];
  if (data.IsNull(row)) return 0;
  if (IsVariable(data.info.kind)) {
    const size_t begin = row == 0 ? 0 : data.ends[row - 1];
    const size_t stored = data.ends[row] - begin;
    return ClampSize(data.narrow ? stored * 2 : stored);  // UTF-16 bytes, as the driver said
  }
  if (!data.other_sizes.empty()) {
    const auto other = data.other_sizes.find(row);
    if (other != data.other_sizes.end()) return other->second;
  }
  return data.usual_size < 0 ? 0 : data.usual_size;
}

HRESULT RowStore::Value(size_t row, size_t column_index, VARIANT* value) const {
  VariantInit(value);
  const ColumnData& column = columns_[column_index];
  if (column.IsNull(row)) {
    value->vt = VT_NULL;
    return S_OK;
  }
  const ValueKind kind = column.info.kind;
  if (kind == ValueKind::kText || kind == ValueKind::kDecimal || kind == ValueKind::kBinary) {
    const size_t begin = row == 0 ? 0 : column.ends[row - 1];
    const size_t length = column.ends[row] - begin;
    const uint8_t* data = column.bytes.data() + begin;
    if (kind == ValueKind::kBinary) {
      SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(length));
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
    const auto text = column.texts.find(row);
    if (text != column.texts.end()) {
      value->bstrVal = SysAllocStringLen(text->second.data(), static_cast<UINT>(text->second.size()));
      if (!value->bstrVal) return E_OUTOFMEMORY;
      value->vt = VT_BSTR;
      return S_OK;
    }
  }
  uint64_t slot = 0;
  std::memcpy(&slot, column.fixed.data() + row * column.width, column.width);
  if (IsInteger(kind)) {
    SetInteger(kind, Extend(kind, slot, column.width), value);
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
