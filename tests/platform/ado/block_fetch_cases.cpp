// Rows read through bound buffers: many blocks, nulls among values, values
// longer than their buffer (and, where the database lets them, longer than
// their declared column size), and MaxRecords inside a block.
#include <string>

#include "tests/platform/ado/backend.h"

namespace adotest {
namespace {

constexpr int kRows = 600;

std::string LongValue(int id) {
  std::string s = "long-" + std::to_string(id) + "-";
  while (s.size() < 3000) s += "0123456789\xC3\xA9";  // with é
  // Row 300 brings the first character past U+00FF into its column, after
  // 299 rows held at one byte per character.
  if (id == 300) s += "\xE2\x82\xAC";  // €
  return s;
}

bool IsLongRow(int id) { return id == 5 || id == 300 || id == kRows; }

std::string VarText(const Var& v) { return v.v.vt == VT_BSTR ? U8(v.v.bstrVal) : "<vt " + std::to_string(v.v.vt) + ">"; }

}  // namespace

TEST_P(BackendTest, BoundBuffersKeepEveryRowAndCell) {
  const std::string table = Table("blocks");
  const bool lax_sizes = GetParam().name == "sqlite";  // SQLite does not enforce varchar(n)
  Exec("DROP TABLE IF EXISTS " + table);
  Exec("CREATE TABLE " + table + " (id integer, tag varchar(20), note text, ratio double precision)");
  // One INSERT of every row, in SQL that each database takes.
  std::string insert = "INSERT INTO " + table + " VALUES ";
  for (int i = 1; i <= kRows; ++i) {
    const std::string n = std::to_string(i);
    insert += (i > 1 ? ", (" : "(") + n + ", 't" + n + "', " + (i % 7 == 0 ? "NULL" : "'n" + n + "'") + ", " +
              (i % 5 == 0 ? "NULL" : std::to_string(i / 2) + (i % 2 ? ".5" : ".0")) + ")";  // i * 0.5
  }
  Exec(insert);
  for (int id = 1; id <= kRows; ++id) {
    if (!IsLongRow(id)) continue;
    Exec("UPDATE " + table + " SET note = '" + LongValue(id) + "'" +
         (lax_sizes ? ", tag = '" + LongValue(-id) + "'" : std::string()) + " WHERE id = " + std::to_string(id));
  }

  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  ASSERT_EQ(OpenRecordset(rs.get(), "SELECT id, tag, note, ratio FROM " + table + " ORDER BY id", conn_), S_OK)
      << TakeErrorInfo();
  LONG count = 0;
  ASSERT_EQ(rs->get_RecordCount(&count), S_OK);
  ASSERT_EQ(count, kRows);
  Ptr<Fields> fields;
  ASSERT_EQ(rs->get_Fields(fields.Out()), S_OK);
  Ptr<Field> f[4];
  for (LONG i = 0; i < 4; ++i) ASSERT_EQ(fields->get_Item(Var::I4(i).v, f[i].Out()), S_OK);
  int mismatches = 0;
  for (int id = 1; id <= kRows && mismatches < 5; ++id) {
    Var v[4];
    for (int i = 0; i < 4; ++i) ASSERT_EQ(f[i]->get_Value(&v[i].v), S_OK);
    Var id_text;
    ASSERT_EQ(VariantChangeType(&id_text.v, &v[0].v, 0, VT_I4), S_OK);
    const std::string tag = IsLongRow(id) && lax_sizes ? LongValue(-id) : "t" + std::to_string(id);
    const std::string note = IsLongRow(id) ? LongValue(id) : id % 7 == 0 ? "" : "n" + std::to_string(id);
    bool ok = id_text.v.lVal == id && VarText(v[1]) == tag;
    ok = ok && (id % 7 == 0 && !IsLongRow(id) ? v[2].v.vt == VT_NULL : VarText(v[2]) == note);
    ok = ok && (id % 5 == 0 ? v[3].v.vt == VT_NULL : v[3].v.vt == VT_R8 && v[3].v.dblVal == id * 0.5);
    if (v[2].v.vt == VT_BSTR) {  // ActualSize counts UTF-16 bytes, however the text is held
      LONG size = 0;
      ASSERT_EQ(f[2]->get_ActualSize(&size), S_OK);
      ok = ok && size == static_cast<LONG>(U16(note).size() * 2);
    }
    if (!ok) {
      ++mismatches;
      ADD_FAILURE() << "row " << id << ": " << VarText(v[1]).substr(0, 40) << " | " << VarText(v[2]).substr(0, 40)
                    << " | vt " << v[3].v.vt;
    }
    ASSERT_EQ(rs->MoveNext(), S_OK);
  }
  VARIANT_BOOL eof = VARIANT_FALSE;
  ASSERT_EQ(rs->get_EOF(&eof), S_OK);
  EXPECT_EQ(eof, VARIANT_TRUE);

  // A limit that ends inside a block.
  for (LONG max : {1L, 257L, 300L}) {
    Ptr<_Recordset> limited;
    *limited.Out() = NewRecordset();
    ASSERT_EQ(limited->put_MaxRecords(max), S_OK);
    ASSERT_EQ(OpenRecordset(limited.get(), "SELECT id, note FROM " + table + " ORDER BY id", conn_), S_OK);
    ASSERT_EQ(limited->get_RecordCount(&count), S_OK);
    EXPECT_EQ(count, max);
  }
}

}  // namespace adotest
