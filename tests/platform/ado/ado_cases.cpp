// Data-object cases shared by every data source.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/platform/ado/backend.h"
#include "tests/support/odbc_env.h"

namespace adotest {
namespace {

const std::string kLongBody = [] {
  std::string s;
  while (s.size() < 100000) s += "abcdefghij\xC3\xBC\xE2\x82\xAC-";  // with ü and €
  return s;
}();

}  // namespace

std::string BackendTest::Table(const std::string& base) { return base + "_" + std::to_string(getpid()); }

void BackendTest::Exec(const std::string& sql) {
  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  ASSERT_EQ(OpenRecordset(rs.get(), sql, conn_), S_OK) << sql << ": " << TakeErrorInfo();
  LONG state = -1;
  ASSERT_EQ(rs->get_State(&state), S_OK);
  ASSERT_EQ(state, adStateClosed) << sql;
}

void BackendTest::SetUp() {
  conn_ = GetParam().connection_string();
  if (conn_.empty()) {
    const std::string why = GetParam().unavailable_reason ? GetParam().unavailable_reason() : "not available";
    if (vqtest::RequirePg()) FAIL() << why;
    GTEST_SKIP() << why;
  }
  // The tables are made once per process and data source.
  static std::mutex mutex;
  static std::map<std::string, bool> prepared;
  std::lock_guard<std::mutex> lock(mutex);
  if (prepared[GetParam().name]) return;
  const std::string typed = Table("typed");
  const std::string longtext = Table("longtext");
  Exec("DROP TABLE IF EXISTS " + typed);
  Exec("CREATE TABLE " + typed +
       " (id integer, name varchar(40), ratio double precision, amount numeric(10,2), day date,"
       " moment timestamp, flag boolean, missing varchar(10))");
  Exec("INSERT INTO " + typed +
       " VALUES (1, 'alpha', 2.5, 12.34, '2024-02-29', '2024-02-29 13:45:30', TRUE, NULL)");
  Exec("INSERT INTO " + typed + " VALUES (2, '', -0.125, -7.50, '1899-12-29', '2000-01-01 00:00:00', FALSE, NULL)");
  Exec("INSERT INTO " + typed +
       " VALUES (3, '\xC3\xBCn\xC3\xAF\xE2\x82\xAC', 0, 0, '1970-01-01', '1970-01-01 06:00:00', TRUE, 'x')");
  Exec("DROP TABLE IF EXISTS " + longtext);
  Exec("CREATE TABLE " + longtext + " (id integer, body " + GetParam().long_text_type + ")");
  Exec("INSERT INTO " + longtext + " VALUES (1, '" + kLongBody + "')");
  prepared[GetParam().name] = true;
}

TEST_P(BackendTest, ConnectionOpensAndCloses) {
  Ptr<_Connection> c;
  *c.Out() = NewConnection();
  LONG state = -1;
  EXPECT_EQ(c->get_State(&state), S_OK);
  EXPECT_EQ(state, adStateClosed);
  LONG timeout = 0;
  EXPECT_EQ(c->get_CommandTimeout(&timeout), S_OK);
  EXPECT_EQ(timeout, 30);
  EXPECT_NE(c->put_CommandTimeout(-1), S_OK);

  BSTR text = SysAllocString(U16(conn_).c_str());
  EXPECT_EQ(c->put_ConnectionString(text), S_OK);
  SysFreeString(text);
  BSTR read = nullptr;
  EXPECT_EQ(c->get_ConnectionString(&read), S_OK);
  EXPECT_EQ(U8(read), conn_);
  SysFreeString(read);

  BSTR empty = SysAllocString(u"");
  EXPECT_EQ(c->Open(empty, empty, empty, 0), S_OK) << TakeErrorInfo();
  EXPECT_EQ(c->get_State(&state), S_OK);
  EXPECT_EQ(state, adStateOpen);
  // Opening twice is refused; the connection stays open.
  EXPECT_LT(c->Open(empty, empty, empty, 0), 0);
  EXPECT_EQ(c->get_State(&state), S_OK);
  EXPECT_EQ(state, adStateOpen);
  SysFreeString(empty);

  EXPECT_EQ(c->Close(), S_OK);
  EXPECT_EQ(c->get_State(&state), S_OK);
  EXPECT_EQ(state, adStateClosed);
  EXPECT_EQ(c->Close(), adErrObjectClosed);
  EXPECT_EQ(c->get_State(nullptr), E_POINTER);
}

TEST_P(BackendTest, TypedColumnsGiveTheirValues) {
  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  ASSERT_EQ(rs->put_CursorLocation(adUseClient), S_OK);
  ASSERT_EQ(OpenRecordset(rs.get(),
                          "SELECT id, name, ratio, amount, day, moment, flag, missing FROM " + Table("typed") +
                              " ORDER BY id",
                          conn_),
            S_OK)
      << TakeErrorInfo();
  Ptr<Fields> fields;
  ASSERT_EQ(rs->get_Fields(fields.Out()), S_OK);
  LONG count = 0;
  EXPECT_EQ(fields->get_Count(&count), S_OK);
  EXPECT_EQ(count, 8);

  struct Expect {
    const char16_t* name;
    std::vector<LONG> types;  // accepted ADO types
    VARTYPE vt;
  };
  const std::vector<Expect> columns = {
      {u"id", {adInteger}, VT_I4},
      {u"name", {adVarChar, adVarWChar}, VT_BSTR},
      {u"ratio", {adDouble}, VT_R8},
      // The SQLite driver describes numeric columns as SQL_DOUBLE.
      {u"amount", {GetParam().exact_numbers ? adNumeric : adDouble}, GetParam().exact_numbers ? VT_DECIMAL : VT_R8},
      {u"day", {adDBDate}, VT_DATE},
      {u"moment", {adDBTimeStamp}, VT_DATE},
      {u"flag", {GetParam().native_booleans ? adBoolean : adTinyInt}, GetParam().native_booleans ? VT_BOOL : VT_I2},
      {u"missing", {adVarChar, adVarWChar}, VT_NULL},
  };
  for (size_t i = 0; i < columns.size(); ++i) {
    Ptr<Field> f;
    ASSERT_EQ(fields->get_Item(Var::I4(static_cast<LONG>(i)).v, f.Out()), S_OK);
    BSTR name = nullptr;
    EXPECT_EQ(f->get_Name(&name), S_OK);
    EXPECT_EQ(U8(name), U8(std::u16string(columns[i].name)));
    SysFreeString(name);
    LONG type = 0;
    EXPECT_EQ(f->get_Type(&type), S_OK);
    EXPECT_NE(std::find(columns[i].types.begin(), columns[i].types.end(), type), columns[i].types.end())
        << "column " << i << " type " << type;
    Var value;
    EXPECT_EQ(f->get_Value(&value.v), S_OK);
    EXPECT_EQ(value.v.vt, columns[i].vt) << "column " << i;
    LONG status = -1;
    EXPECT_EQ(f->get_Status(&status), S_OK);
    EXPECT_EQ(status, adFieldOK);
  }

  // Record 1: the values themselves and their sizes.
  auto value_of = [&](const char16_t* name, VARIANT* out) {
    Ptr<Field> f;
    Var index(name);
    ASSERT_EQ(fields->get_Item(index.v, f.Out()), S_OK);
    ASSERT_EQ(f->get_Value(out), S_OK);
  };
  auto size_of = [&](const char16_t* name) {
    Ptr<Field> f;
    Var index(name);
    EXPECT_EQ(fields->get_Item(index.v, f.Out()), S_OK);
    LONG size = -1;
    EXPECT_EQ(f->get_ActualSize(&size), S_OK);
    return size;
  };
  Var v;
  value_of(u"ID", &v.v);  // names match without regard to case
  EXPECT_EQ(v.v.lVal, 1);
  EXPECT_EQ(size_of(u"id"), 4);
  VariantClear(&v.v);
  value_of(u"name", &v.v);
  EXPECT_EQ(U8(v.v.bstrVal), "alpha");
  EXPECT_EQ(size_of(u"name"), 10);
  VariantClear(&v.v);
  value_of(u"ratio", &v.v);
  EXPECT_EQ(v.v.dblVal, 2.5);
  EXPECT_EQ(size_of(u"ratio"), 8);
  VariantClear(&v.v);
  value_of(u"amount", &v.v);
  if (GetParam().exact_numbers) {
    ASSERT_EQ(v.v.vt, VT_DECIMAL);
    EXPECT_EQ(v.v.decVal.Lo64, 1234u);
    EXPECT_EQ(v.v.decVal.scale, 2);
    EXPECT_EQ(v.v.decVal.Hi32, 0u);
    EXPECT_EQ(v.v.decVal.sign, 0);
  } else {
    ASSERT_EQ(v.v.vt, VT_R8);
    EXPECT_DOUBLE_EQ(v.v.dblVal, 12.34);
  }
  EXPECT_GT(size_of(u"amount"), 0);
  VariantClear(&v.v);
  value_of(u"day", &v.v);
  EXPECT_DOUBLE_EQ(v.v.date, 45351.0);
  VariantClear(&v.v);
  value_of(u"moment", &v.v);
  EXPECT_NEAR(v.v.date, 45351.0 + (13 * 3600 + 45 * 60 + 30) / 86400.0, 1e-9);
  VariantClear(&v.v);
  value_of(u"flag", &v.v);
  if (GetParam().native_booleans) {
    EXPECT_EQ(v.v.boolVal, VARIANT_TRUE);
  } else {
    EXPECT_EQ(v.v.iVal, 1);
  }
  VariantClear(&v.v);
  EXPECT_EQ(size_of(u"missing"), 0);
  {
    Ptr<Field> f;
    ASSERT_EQ(fields->get_Item(Var::I2(7).v, f.Out()), S_OK);
    LONG attributes = 0;
    EXPECT_EQ(f->get_Attributes(&attributes), S_OK);
    EXPECT_TRUE(attributes & adFldMayBeNull);
  }

  // Record 2: the empty text, a negative exact number, a date before 1899-12-30.
  ASSERT_EQ(rs->MoveNext(), S_OK);
  value_of(u"name", &v.v);
  ASSERT_EQ(v.v.vt, VT_BSTR);
  EXPECT_EQ(SysStringLen(v.v.bstrVal), 0u);
  EXPECT_EQ(size_of(u"name"), 0);
  VariantClear(&v.v);
  value_of(u"amount", &v.v);
  if (GetParam().exact_numbers) {
    ASSERT_EQ(v.v.vt, VT_DECIMAL);
    EXPECT_EQ(v.v.decVal.sign, DECIMAL_NEG);
  } else {
    ASSERT_EQ(v.v.vt, VT_R8);
    EXPECT_DOUBLE_EQ(v.v.dblVal, -7.5);
  }
  VariantClear(&v.v);
  value_of(u"day", &v.v);
  EXPECT_DOUBLE_EQ(v.v.date, -1.0);
  VariantClear(&v.v);
  value_of(u"moment", &v.v);
  EXPECT_DOUBLE_EQ(v.v.date, 36526.0);
  VariantClear(&v.v);
  value_of(u"flag", &v.v);
  EXPECT_EQ(v.v.boolVal, VARIANT_FALSE);  // 0 either way
  VariantClear(&v.v);

  // Record 3: text beyond ASCII; its size counts UTF-16 bytes.
  ASSERT_EQ(rs->MoveNext(), S_OK);
  value_of(u"name", &v.v);
  EXPECT_EQ(U8(v.v.bstrVal), "\xC3\xBCn\xC3\xAF\xE2\x82\xAC");
  EXPECT_EQ(size_of(u"name"), 8);
  VariantClear(&v.v);
  value_of(u"missing", &v.v);
  EXPECT_EQ(U8(v.v.bstrVal), "x");
  EXPECT_EQ(rs->Close(), S_OK);
}

TEST_P(BackendTest, CountsNavigationAndMaxRecords) {
  const std::string sql = "SELECT id FROM " + Table("typed") + " ORDER BY id";
  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  ASSERT_EQ(OpenRecordset(rs.get(), sql, conn_), S_OK) << TakeErrorInfo();
  LONG count = -1;
  EXPECT_EQ(rs->get_RecordCount(&count), S_OK);
  EXPECT_EQ(count, 3);
  VARIANT_BOOL eof = 0;
  VARIANT_BOOL bof = 0;
  EXPECT_EQ(rs->get_BOF(&bof), S_OK);
  EXPECT_EQ(bof, VARIANT_FALSE);
  std::vector<LONG> seen;
  for (;;) {
    ASSERT_EQ(rs->get_EOF(&eof), S_OK);
    if (eof) break;
    Ptr<Field> f;
    *f.Out() = GetField(rs.get(), 0);
    Var value;
    ASSERT_EQ(f->get_Value(&value.v), S_OK);
    seen.push_back(value.v.lVal);
    LONG status = -1;
    EXPECT_EQ(rs->get_Status(&status), S_OK);
    EXPECT_EQ(status, adRecOK);
    ASSERT_EQ(rs->MoveNext(), S_OK);
  }
  EXPECT_EQ(seen, (std::vector<LONG>{1, 2, 3}));
  EXPECT_EQ(rs->MoveNext(), adErrNoCurrentRecord);
  EXPECT_EQ(rs->MoveFirst(), S_OK);
  EXPECT_EQ(rs->get_EOF(&eof), S_OK);
  EXPECT_EQ(eof, VARIANT_FALSE);
  EXPECT_EQ(rs->put_MaxRecords(2), MakeHr(0x800A0E79));  // not while open
  EXPECT_EQ(rs->Close(), S_OK);

  // A limit of 2 holds the first two records only.
  EXPECT_EQ(rs->put_MaxRecords(-1), adErrInvalidArgument);
  ASSERT_EQ(rs->put_MaxRecords(2), S_OK);
  LONG max = 0;
  EXPECT_EQ(rs->get_MaxRecords(&max), S_OK);
  EXPECT_EQ(max, 2);
  ASSERT_EQ(OpenRecordset(rs.get(), sql, conn_), S_OK) << TakeErrorInfo();
  EXPECT_EQ(rs->get_RecordCount(&count), S_OK);
  EXPECT_EQ(count, 2);
  ASSERT_EQ(rs->MoveNext(), S_OK);
  Ptr<Field> f;
  *f.Out() = GetField(rs.get(), 0);
  Var value;
  ASSERT_EQ(f->get_Value(&value.v), S_OK);
  EXPECT_EQ(value.v.lVal, 2);
  EXPECT_EQ(rs->Close(), S_OK);

  // No rows: EOF and BOF at once, and no current record.
  ASSERT_EQ(rs->put_MaxRecords(0), S_OK);
  ASSERT_EQ(OpenRecordset(rs.get(), "SELECT id FROM " + Table("typed") + " WHERE id < 0", conn_), S_OK);
  EXPECT_EQ(rs->get_RecordCount(&count), S_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(rs->get_EOF(&eof), S_OK);
  EXPECT_EQ(rs->get_BOF(&bof), S_OK);
  EXPECT_TRUE(eof && bof);
}

TEST_P(BackendTest, StatementsWithoutRowsLeaveTheRecordsetClosed) {
  const std::string table = Table("scratch");
  Exec("DROP TABLE IF EXISTS " + table);
  Exec("CREATE TABLE " + table + " (x integer)");
  Exec("INSERT INTO " + table + " VALUES (1)");
  Exec("INSERT INTO " + table + " VALUES (2)");
  Exec("UPDATE " + table + " SET x = x + 10");
  Exec("UPDATE " + table + " SET x = 0 WHERE x < 0");  // touches no row

  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  ASSERT_EQ(OpenRecordset(rs.get(), "DELETE FROM " + table + " WHERE x = 11", conn_), S_OK);
  LONG count = 0;
  EXPECT_EQ(rs->get_RecordCount(&count), adErrObjectClosed);
  EXPECT_EQ(TakeErrorInfo().rfind("ADODB.Recordset|", 0), 0u);

  ASSERT_EQ(OpenRecordset(rs.get(), "SELECT x FROM " + table, conn_), S_OK);
  ASSERT_EQ(rs->get_RecordCount(&count), S_OK);
  ASSERT_EQ(count, 1);
  Ptr<Field> f;
  *f.Out() = GetField(rs.get(), 0);
  Var value;
  ASSERT_EQ(f->get_Value(&value.v), S_OK);
  EXPECT_EQ(value.v.lVal, 12);
}

TEST_P(BackendTest, ClosedRecordsetAndMissingItemsAreRefused) {
  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  LONG n = 0;
  VARIANT_BOOL b = 0;
  Ptr<Fields> fields;
  EXPECT_EQ(rs->get_RecordCount(&n), adErrObjectClosed);
  EXPECT_EQ(rs->get_EOF(&b), adErrObjectClosed);
  EXPECT_EQ(rs->get_Fields(fields.Out()), adErrObjectClosed);
  EXPECT_EQ(rs->MoveNext(), adErrObjectClosed);
  EXPECT_EQ(rs->Close(), adErrObjectClosed);
  EXPECT_EQ(rs->get_State(&n), S_OK);
  EXPECT_EQ(n, adStateClosed);

  ASSERT_EQ(OpenRecordset(rs.get(), "SELECT id, name FROM " + Table("typed") + " ORDER BY id", conn_), S_OK);
  ASSERT_EQ(rs->get_Fields(fields.Out()), S_OK);
  Ptr<Field> field;
  EXPECT_EQ(fields->get_Item(Var::I2(2).v, field.Out()), adErrItemNotFound);
  EXPECT_EQ(TakeErrorInfo().rfind("ADODB.Recordset|", 0), 0u);
  EXPECT_EQ(fields->get_Item(Var::I4(-1).v, field.Out()), adErrItemNotFound);
  Var unknown(u"no_such_column");
  EXPECT_EQ(fields->get_Item(unknown.v, field.Out()), adErrItemNotFound);
  Var real;
  real.v.vt = VT_R8;
  real.v.dblVal = 1;
  EXPECT_EQ(fields->get_Item(real.v, field.Out()), adErrInvalidArgument);
  EXPECT_EQ(fields->get_Item(Var::I2(0).v, nullptr), E_POINTER);

  // Failures of Fields.Item name Fields15; those of Field name Field20/Field.
  Ptr<ISupportErrorInfo> support;
  ASSERT_EQ(fields->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(support.Out())), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_Fields15), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID__Collection), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_Recordset15), S_FALSE);

  ASSERT_EQ(fields->get_Item(Var::I2(1).v, field.Out()), S_OK);
  ASSERT_EQ(field->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(support.Out())), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_Field20), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_Field), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_Fields15), S_FALSE);

  // At EOF there is no current record; the description of the column stays.
  for (int i = 0; i < 3; ++i) ASSERT_EQ(rs->MoveNext(), S_OK);
  Var value;
  LONG size = 0;
  EXPECT_EQ(field->get_Value(&value.v), adErrNoCurrentRecord);
  EXPECT_EQ(field->get_ActualSize(&size), adErrNoCurrentRecord);
  BSTR name = nullptr;
  EXPECT_EQ(field->get_Name(&name), S_OK);
  EXPECT_EQ(U8(name), "name");
  SysFreeString(name);

  // Within one opening every lookup hands out the same objects, which follow
  // the current record.
  Ptr<Fields> again;
  ASSERT_EQ(rs->get_Fields(again.Out()), S_OK);
  EXPECT_EQ(again.get(), fields.get());
  Ptr<Field> same;
  ASSERT_EQ(again->get_Item(Var::I2(1).v, same.Out()), S_OK);
  EXPECT_EQ(same.get(), field.get());

  // After Close, objects of that opening see a closed recordset, also once
  // the recordset is opened again.
  EXPECT_EQ(rs->Close(), S_OK);
  EXPECT_EQ(fields->get_Count(&n), adErrObjectClosed);
  EXPECT_EQ(field->get_Type(&n), adErrObjectClosed);
  EXPECT_EQ(rs->get_Status(&n), adErrObjectClosed);
  ASSERT_EQ(OpenRecordset(rs.get(), "SELECT name FROM " + Table("typed") + " ORDER BY id", conn_), S_OK);
  EXPECT_EQ(field->get_Value(&value.v), adErrObjectClosed);
  EXPECT_EQ(fields->get_Count(&n), adErrObjectClosed);
  Ptr<Fields> reopened;
  ASSERT_EQ(rs->get_Fields(reopened.Out()), S_OK);
  EXPECT_NE(reopened.get(), fields.get());
  ASSERT_EQ(reopened->get_Count(&n), S_OK);
  EXPECT_EQ(n, 1);
}

TEST_P(BackendTest, ActiveConnectionCarriesTheStatementDiagnostics) {
  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  ASSERT_EQ(OpenRecordset(rs.get(), "SELECT id FROM " + Table("typed"), conn_), S_OK);
  Var active;
  ASSERT_EQ(rs->get_ActiveConnection(&active.v), S_OK);
  ASSERT_EQ(active.v.vt, VT_DISPATCH);
  Ptr<_Connection> c;
  ASSERT_EQ(active.v.pdispVal->QueryInterface(IID__Connection, reinterpret_cast<void**>(c.Out())), S_OK);
  LONG state = 0;
  EXPECT_EQ(c->get_State(&state), S_OK);
  EXPECT_EQ(state, adStateOpen);
  EXPECT_EQ(rs->Close(), S_OK);
  EXPECT_EQ(c->get_State(&state), S_OK);
  EXPECT_EQ(state, adStateClosed);  // the recordset's own connection ends with it

  // A bad statement: E_FAIL, the driver's message, and the records in Errors.
  const HRESULT hr = OpenRecordset(rs.get(), "SELEKT nonsense FROM nowhere", conn_);
  EXPECT_EQ(hr, E_FAIL);
  const std::string info = TakeErrorInfo();
  ASSERT_EQ(info.rfind("ADODB.Recordset|", 0), 0u) << info;
  const std::string message = info.substr(std::string("ADODB.Recordset|").size());
  EXPECT_FALSE(message.empty());
  Var again;
  ASSERT_EQ(rs->get_ActiveConnection(&again.v), S_OK);
  ASSERT_EQ(again.v.vt, VT_DISPATCH);
  ASSERT_EQ(again.v.pdispVal->QueryInterface(IID__Connection, reinterpret_cast<void**>(c.Out())), S_OK);
  Ptr<Errors> errors;
  ASSERT_EQ(c->get_Errors(errors.Out()), S_OK);
  LONG count = 0;
  ASSERT_EQ(errors->get_Count(&count), S_OK);
  ASSERT_GE(count, 1);
  Ptr<Error> first;
  ASSERT_EQ(errors->get_Item(Var::I4(0).v, first.Out()), S_OK);
  LONG number = 0;
  EXPECT_EQ(first->get_Number(&number), S_OK);
  EXPECT_EQ(number, E_FAIL);
  BSTR state_text = nullptr;
  BSTR description = nullptr;
  EXPECT_EQ(first->get_SQLState(&state_text), S_OK);
  EXPECT_EQ(first->get_Description(&description), S_OK);
  EXPECT_EQ(SysStringLen(state_text), 5u);
  EXPECT_EQ(U8(description), "[" + U8(state_text) + "] " + message);
  SysFreeString(state_text);
  SysFreeString(description);
  EXPECT_EQ(rs->get_State(&state), S_OK);
  EXPECT_EQ(state, adStateClosed);

  // On a Connection object of the caller: the same object gets the records,
  // and it stays open after the recordset closes.
  Ptr<_Connection> own;
  *own.Out() = NewConnection();
  BSTR text = SysAllocString(U16(conn_).c_str());
  ASSERT_EQ(own->Open(text, nullptr, nullptr, adConnectUnspecified), S_OK) << TakeErrorInfo();
  SysFreeString(text);
  Var source(U16("SELEKT 1"));
  Var shared;
  shared.v.vt = VT_DISPATCH;
  shared.v.pdispVal = own.get();
  own->AddRef();
  EXPECT_EQ(rs->Open(source.v, shared.v, adOpenStatic, adLockBatchOptimistic, adCmdUnspecified), E_FAIL);
  ASSERT_EQ(own->get_Errors(errors.Out()), S_OK);
  ASSERT_EQ(errors->get_Count(&count), S_OK);
  EXPECT_GE(count, 1);
  Var good(U16("SELECT id FROM " + Table("typed")));
  ASSERT_EQ(rs->Open(good.v, shared.v, adOpenStatic, adLockBatchOptimistic, adCmdUnspecified), S_OK);
  ASSERT_EQ(own->get_Errors(errors.Out()), S_OK);
  ASSERT_EQ(errors->get_Count(&count), S_OK);
  EXPECT_EQ(count, 0);  // cleared by the new statement
  EXPECT_EQ(rs->Close(), S_OK);
  EXPECT_EQ(own->get_State(&state), S_OK);
  EXPECT_EQ(state, adStateOpen);
}

TEST_P(BackendTest, LongTextArrivesWhole) {
  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  ASSERT_EQ(OpenRecordset(rs.get(), "SELECT body FROM " + Table("longtext"), conn_), S_OK) << TakeErrorInfo();
  const std::u16string expected = U16(kLongBody);
  Ptr<Field> f;
  *f.Out() = GetField(rs.get(), 0);
  Var value;
  ASSERT_EQ(f->get_Value(&value.v), S_OK);
  ASSERT_EQ(value.v.vt, VT_BSTR);
  EXPECT_EQ(SysStringLen(value.v.bstrVal), expected.size());
  EXPECT_TRUE(std::u16string(value.v.bstrVal, SysStringLen(value.v.bstrVal)) == expected);
  LONG size = 0;
  EXPECT_EQ(f->get_ActualSize(&size), S_OK);
  EXPECT_EQ(size, static_cast<LONG>(expected.size() * 2));
}

TEST_P(BackendTest, ManyThreadsOpenRecordsetsAtOnce) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 20;
  std::atomic<int> good{0};
  std::vector<std::string> failures(kThreads);
  std::vector<std::thread> threads;
  const std::string sql = "SELECT id, name FROM " + Table("typed") + " ORDER BY id";
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ComScope com;
      for (int i = 0; i < kRounds; ++i) {
        _Recordset* rs = NewRecordset();
        if (!rs) return;
        LONG count = 0;
        if (OpenRecordset(rs, sql, conn_) != S_OK || rs->get_RecordCount(&count) != S_OK || count != 3 ||
            FieldText(rs, 1) != "alpha") {
          failures[t] = TakeErrorInfo();
        } else {
          ++good;
        }
        rs->Release();
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(good.load(), kThreads * kRounds);
  for (const auto& f : failures) EXPECT_EQ(f, "");
}

TEST_P(BackendTest, ReferencesKeepWhatTheyNeed) {
  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  EXPECT_EQ(rs->AddRef(), 2u);
  EXPECT_EQ(rs->Release(), 1u);
  Ptr<IUnknown> a;
  Ptr<IUnknown> b;
  ASSERT_EQ(rs->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(a.Out())), S_OK);
  Ptr<_Recordset> r15;
  ASSERT_EQ(rs->QueryInterface(IID_Recordset15, reinterpret_cast<void**>(r15.Out())), S_OK);
  ASSERT_EQ(r15->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(b.Out())), S_OK);
  EXPECT_EQ(a.get(), b.get());
  void* none = &none;
  EXPECT_EQ(rs->QueryInterface(IID__Connection, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);

  // A Field keeps its recordset alive after the caller lets go of it.
  ASSERT_EQ(OpenRecordset(rs.get(), "SELECT name FROM " + Table("typed") + " ORDER BY id", conn_), S_OK);
  Ptr<Field> f;
  *f.Out() = GetField(rs.get(), 0);
  a.Reset();
  b.Reset();
  r15.Reset();
  rs.Reset();
  Var value;
  ASSERT_EQ(f->get_Value(&value.v), S_OK);
  EXPECT_EQ(U8(value.v.bstrVal), "alpha");
}

}  // namespace adotest
