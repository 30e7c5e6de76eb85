#include "platform/ado/column_type.h"

#include "platform/ado/odbc_api.h"

#include <climits>

namespace zado {
namespace {

struct Mapping {
  LONG ado_type;
  ValueKind kind;
  LONG fixed_size;  // bytes of a fixed-width value, 0 for variable width
  bool is_long;
};

Mapping MapSqlType(SQLSMALLINT sql_type, bool is_unsigned) {
  switch (sql_type) {
    case SQL_DOUBLE:
    case SQL_FLOAT: return {adDouble, ValueKind::kR8, 8, false};
    case SQL_REAL: return {adSingle, ValueKind::kR4, 4, false};
    // Unsigned integers (MariaDB's UNSIGNED columns, PostgreSQL's oid) get
    // the unsigned types, so their upper half does not read negative.
    case SQL_INTEGER:
      return is_unsigned ? Mapping{adUnsignedInt, ValueKind::kUI4, 4, false}
                         : Mapping{adInteger, ValueKind::kI4, 4, false};
    case SQL_SMALLINT:
      return is_unsigned ? Mapping{adUnsignedSmallInt, ValueKind::kUI2, 2, false}
                         : Mapping{adSmallInt, ValueKind::kI2, 2, false};
    // A signed tiny integer does not fit VT_UI1; it is held as VT_I2.
    case SQL_TINYINT:
      return is_unsigned ? Mapping{adUnsignedTinyInt, ValueKind::kUI1, 1, false}
                         : Mapping{adTinyInt, ValueKind::kI2, 1, false};
    case SQL_BIGINT:
      return is_unsigned ? Mapping{adUnsignedBigInt, ValueKind::kUI8, 8, false}
                         : Mapping{adBigInt, ValueKind::kI8, 8, false};
    case SQL_BIT: return {adBoolean, ValueKind::kBool, 2, false};
    case SQL_NUMERIC:
    case SQL_DECIMAL: return {adNumeric, ValueKind::kDecimal, 19, false};
    case SQL_TYPE_DATE:
    case SQL_DATE: return {adDBDate, ValueKind::kDate, 6, false};
    case SQL_TYPE_TIME:
    case SQL_TIME: return {adDBTime, ValueKind::kTime, 6, false};
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP: return {adDBTimeStamp, ValueKind::kTimestamp, 16, false};
    case SQL_CHAR: return {adChar, ValueKind::kText, 0, false};
    case SQL_VARCHAR: return {adVarChar, ValueKind::kText, 0, false};
    case SQL_LONGVARCHAR: return {adLongVarChar, ValueKind::kText, 0, true};
    case SQL_WCHAR: return {adWChar, ValueKind::kText, 0, false};
    case SQL_WVARCHAR: return {adVarWChar, ValueKind::kText, 0, false};
    case SQL_WLONGVARCHAR: return {adLongVarWChar, ValueKind::kText, 0, true};
    case SQL_BINARY:
    case SQL_VARBINARY: return {adVarBinary, ValueKind::kBinary, 0, false};
    case SQL_LONGVARBINARY: return {adLongVarBinary, ValueKind::kBinary, 0, true};
    default:
      // GUIDs, intervals and driver-specific types are read as text.
      return {adVarWChar, ValueKind::kText, 0, false};
  }
}

bool IsFixedText(SQLSMALLINT sql_type) {
  return sql_type == SQL_CHAR || sql_type == SQL_WCHAR || sql_type == SQL_BINARY;
}

}  // namespace

void MapColumnType(ColumnInfo* column) {
  const Mapping m = MapSqlType(column->sql_type, column->is_unsigned);
  column->ado_type = m.ado_type;
  column->kind = m.kind;
  // Fixed-width values report their byte width; texts, binaries and exact
  // numbers the column size the driver gives (characters, bytes, digits).
  if (m.fixed_size > 0 && m.kind != ValueKind::kDecimal) {
    column->defined_size = m.fixed_size;
  } else {
    column->defined_size =
        column->column_size > static_cast<SQLULEN>(INT_MAX) ? INT_MAX : static_cast<LONG>(column->column_size);
  }
  LONG attributes = 0;
  if (column->nullable == SQL_NULLABLE) attributes |= adFldMayBeNull | adFldIsNullable;
  if (column->nullable == SQL_NULLABLE_UNKNOWN) attributes |= adFldMayBeNull;
  if (m.is_long) attributes |= adFldLong;
  if (m.fixed_size > 0 || IsFixedText(column->sql_type)) attributes |= adFldFixed;
  column->attributes = attributes;
}

bool IsVariable(ValueKind kind) {
  return kind == ValueKind::kText || kind == ValueKind::kDecimal || kind == ValueKind::kBinary;
}

bool IsInteger(ValueKind kind) {
  switch (kind) {
    case ValueKind::kI2: case ValueKind::kUI1: case ValueKind::kI4: case ValueKind::kI8:
    case ValueKind::kUI2: case ValueKind::kUI4: case ValueKind::kUI8:
      return true;
    default:
      return false;
  }
}

bool IsUnsigned(ValueKind kind) {
  return kind == ValueKind::kUI1 || kind == ValueKind::kUI2 || kind == ValueKind::kUI4 || kind == ValueKind::kUI8;
}

int32_t DeclaredWidth(ValueKind kind) {
  switch (kind) {
    case ValueKind::kUI1: return 1;
    case ValueKind::kI2: case ValueKind::kUI2: return 2;
    case ValueKind::kI4: case ValueKind::kUI4: return 4;
    case ValueKind::kI8: case ValueKind::kUI8: return 8;
    default: return FixedWidth(kind);
  }
}

int32_t FixedWidth(ValueKind kind) {
  switch (kind) {
    case ValueKind::kI2: case ValueKind::kI4: case ValueKind::kI8: return sizeof(SQLBIGINT);
    case ValueKind::kUI1: case ValueKind::kUI2: case ValueKind::kUI4: case ValueKind::kUI8:
      return sizeof(SQLUBIGINT);
    case ValueKind::kR4: return sizeof(SQLREAL);
    case ValueKind::kR8: return sizeof(SQLDOUBLE);
    case ValueKind::kBool: return sizeof(SQLCHAR);
    case ValueKind::kDate: return sizeof(SQL_DATE_STRUCT);
    case ValueKind::kTime: return sizeof(SQL_TIME_STRUCT);
    case ValueKind::kTimestamp: return sizeof(SQL_TIMESTAMP_STRUCT);
    default: return 0;
  }
}

SQLSMALLINT CTypeFor(ValueKind kind) {
  switch (kind) {
    case ValueKind::kI2: case ValueKind::kI4: case ValueKind::kI8: return SQL_C_SBIGINT;
    case ValueKind::kUI1: case ValueKind::kUI2: case ValueKind::kUI4: case ValueKind::kUI8: return SQL_C_UBIGINT;
    case ValueKind::kR4: return SQL_C_FLOAT;
    case ValueKind::kR8: return SQL_C_DOUBLE;
    case ValueKind::kBool: return SQL_C_BIT;
    case ValueKind::kDate: return SQL_C_TYPE_DATE;
    case ValueKind::kTime: return SQL_C_TYPE_TIME;
    case ValueKind::kTimestamp: return SQL_C_TYPE_TIMESTAMP;
    case ValueKind::kDecimal:
    case ValueKind::kText: return SQL_C_WCHAR;
    case ValueKind::kBinary: return SQL_C_BINARY;
  }
  return SQL_C_WCHAR;
}

SQLSMALLINT CTypeOf(const ColumnInfo& column) {
  return column.read_as_text ? SQL_C_WCHAR : CTypeFor(column.kind);
}

bool ReadsText(const ColumnInfo& column) { return column.read_as_text || IsVariable(column.kind); }

bool IsDateTime(ValueKind kind) {
  return kind == ValueKind::kDate || kind == ValueKind::kTime || kind == ValueKind::kTimestamp;
}

}  // namespace zado
