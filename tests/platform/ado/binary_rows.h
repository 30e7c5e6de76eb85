// Reading binary values through a recordset: every row of a query giving
// (any key, value, the database's own hex of the value) is checked byte for byte,
// with ActualSize the byte count.
#pragma once

#include <cstdio>
#include <string>

#include "tests/platform/ado/ado_test_util.h"

namespace adotest {

// Fails the test for the first row whose value differs from its hex; nulls
// (with a null hex) must come back as VT_NULL with ActualSize 0. Answers the
// number of rows read.
inline int CheckBinaryRows(const std::string& sql, const std::string& conn) {
  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  EXPECT_EQ(OpenRecordset(rs.get(), sql, conn), S_OK) << TakeErrorInfo();
  int rows = 0;
  VARIANT_BOOL eof = VARIANT_TRUE;
  while (rs->get_EOF(&eof) == S_OK && eof == VARIANT_FALSE) {
    ++rows;
    const int id = rows;
    Ptr<Field> value;
    *value.Out() = GetField(rs.get(), 1);
    Ptr<Field> hex_field;
    *hex_field.Out() = GetField(rs.get(), 2);
    Var v, hex;
    LONG size = -1;
    EXPECT_EQ(value->get_Value(&v.v), S_OK);
    EXPECT_EQ(value->get_ActualSize(&size), S_OK);
    EXPECT_EQ(hex_field->get_Value(&hex.v), S_OK);
    if (hex.v.vt == VT_NULL) {
      EXPECT_EQ(v.v.vt, VT_NULL) << "row " << id;
      EXPECT_EQ(size, 0) << "row " << id;
    } else if (v.v.vt != (VT_ARRAY | VT_UI1) || hex.v.vt != VT_BSTR) {
      ADD_FAILURE() << "row " << id << ": value type " << v.v.vt << ", hex type " << hex.v.vt;
    } else {
      const std::string expected = U8(hex.v.bstrVal);
      const ULONG count = v.v.parray->cElements;
      EXPECT_EQ(size, static_cast<LONG>(count)) << "row " << id;
      EXPECT_EQ(2 * static_cast<size_t>(count), expected.size()) << "row " << id;
      const auto* bytes = static_cast<const unsigned char*>(v.v.parray->pvData);
      for (ULONG k = 0; k < count && 2 * k < expected.size(); ++k) {
        char two[3];
        std::snprintf(two, sizeof two, "%02X", bytes[k]);
        if (expected.compare(2 * k, 2, two) != 0) {
          ADD_FAILURE() << "row " << id << " byte " << k << " is " << two;
          break;
        }
      }
    }
    if (rs->MoveNext() != S_OK) break;
  }
  return rows;
}

}  // namespace adotest
