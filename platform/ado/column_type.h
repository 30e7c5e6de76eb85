// How a result column is described to callers and read from the driver.
#pragma once

#include "platform/ado/odbc_api.h"

#include <string>

#include "platform/ado/ado.h"

namespace zado {

// The form a column's values are held in.
enum class ValueKind : uint8_t {
  // Integers, named by the width the driver declares. Every one is read at
  // 64 bits: a value wider than its declared width (SQLite keeps 64-bit
  // integers whatever a column's declared type) widens its column.
  kI2, kUI1, kI4, kI8, kUI2, kUI4, kUI8,
  kR4, kR8, kBool, kDate, kTime, kTimestamp,
  kDecimal,  // held as text, turned into VT_DECIMAL when read
  kText, kBinary,
};

struct ColumnInfo {
  std::u16string name;
  bool has_name = false;  // false: Name is a null BSTR
  SQLSMALLINT sql_type = 0;
  SQLULEN column_size = 0;
  SQLSMALLINT nullable = SQL_NULLABLE_UNKNOWN;
  bool is_unsigned = false;
  LONG ado_type = adVarWChar;
  ValueKind kind = ValueKind::kText;
  LONG defined_size = 0;
  LONG attributes = 0;
  // A fixed-width kind read from the driver as text, each value then parsed
  // (dates and times on every driver: their text shows what the database
  // holds where the driver's date structure cannot; integers where a column
  // may hold any value). A value that does not parse is kept as its text.
  bool read_as_text = false;
};

// Fills ado_type, kind, defined_size and attributes from the ODBC
// description (sql_type, column_size, nullable, is_unsigned).
void MapColumnType(ColumnInfo* column);

// Texts, exact numbers (held as text) and binaries: values of any length.
bool IsVariable(ValueKind kind);
// Bytes of a fixed-width kind's C form; 0 for variable kinds.
int32_t FixedWidth(ValueKind kind);

bool IsInteger(ValueKind kind);
bool IsUnsigned(ValueKind kind);
// Bytes of a value at the width its column declares (integers: 1, 2, 4 or
// 8; other fixed kinds: their C form).
int32_t DeclaredWidth(ValueKind kind);

// The ODBC C type a value of this kind is read as.
SQLSMALLINT CTypeFor(ValueKind kind);
// The C type the column is read as: CTypeFor its kind, or text.
SQLSMALLINT CTypeOf(const ColumnInfo& column);
// Whether the column's values arrive as text (variable kinds, and fixed
// kinds read as text), which may need more than one read.
bool ReadsText(const ColumnInfo& column);
bool IsDateTime(ValueKind kind);

}  // namespace zado
