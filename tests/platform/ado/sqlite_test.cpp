// The shared cases on SQLite, and failures of the driver manager itself.
#include "tests/platform/ado/backend.h"
#include "tests/platform/ado/binary_rows.h"
#include "tests/support/odbc_env.h"

namespace adotest {
namespace {

std::string SqliteConnection() {
  static const std::string dsn = vqtest::AddSqliteDsn("vq_ado", "CREATE TABLE seed(x integer);");
  return "DSN=" + dsn;
}

INSTANTIATE_TEST_SUITE_P(Sqlite, BackendTest, ::testing::Values(Backend{"sqlite", &SqliteConnection, false}),
                         PrintBackend);

TEST(MissingDataSource, ConnectionOpenFailsWithTheDriverManagersRecords) {
  SqliteConnection();  // the private odbc.ini is in place before the first ODBC call
  ComScope com;
  Ptr<_Connection> c;
  *c.Out() = NewConnection();
  BSTR text = SysAllocString(u"DSN=vq_no_such_source");
  const HRESULT hr = c->Open(text, nullptr, nullptr, 0);
  SysFreeString(text);
  EXPECT_EQ(hr, E_FAIL);
  const std::string info = TakeErrorInfo();
  EXPECT_EQ(info.rfind("ADODB.Connection|", 0), 0u) << info;
  EXPECT_NE(info.find("Data source name not found"), std::string::npos) << info;

  Ptr<ISupportErrorInfo> support;
  ASSERT_EQ(c->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(support.Out())), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_Connection15), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_Recordset15), S_FALSE);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_Field20), S_FALSE);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IUnknown), S_FALSE);

  LONG state = -1;
  EXPECT_EQ(c->get_State(&state), S_OK);
  EXPECT_EQ(state, adStateClosed);

  // Errors stays readable after the failed Open.
  Ptr<Errors> errors;
  ASSERT_EQ(c->get_Errors(errors.Out()), S_OK);
  LONG count = 0;
  ASSERT_EQ(errors->get_Count(&count), S_OK);
  ASSERT_GE(count, 1);
  Ptr<Error> e;
  ASSERT_EQ(errors->get_Item(Var::I4(0).v, e.Out()), S_OK);
  LONG number = 0;
  BSTR sqlstate = nullptr;
  BSTR description = nullptr;
  BSTR source = nullptr;
  LONG native = -1;
  EXPECT_EQ(e->get_Number(&number), S_OK);
  EXPECT_EQ(number, E_FAIL);
  EXPECT_EQ(e->get_SQLState(&sqlstate), S_OK);
  EXPECT_EQ(U8(sqlstate), "IM002");
  EXPECT_EQ(e->get_Description(&description), S_OK);
  EXPECT_EQ(U8(description).rfind("[IM002] ", 0), 0u);
  EXPECT_EQ(U8(description), "[IM002] " + info.substr(std::string("ADODB.Connection|").size()));
  EXPECT_EQ(e->get_Source(&source), S_OK);
  EXPECT_EQ(U8(source), "ADODB.Connection");
  EXPECT_EQ(e->get_NativeError(&native), S_OK);
  SysFreeString(sqlstate);
  SysFreeString(description);
  SysFreeString(source);

  Ptr<Error> none;
  EXPECT_EQ(errors->get_Item(Var::I2(static_cast<SHORT>(count)).v, none.Out()), adErrItemNotFound);
  ASSERT_EQ(errors->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(support.Out())), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_Errors), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_Error), S_FALSE);
}

TEST(MissingDataSource, RecordsetOpenFailsAndKeepsTheConnectionErrors) {
  SqliteConnection();
  ComScope com;
  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  EXPECT_EQ(OpenRecordset(rs.get(), "SELECT 1", "DSN=vq_no_such_source"), E_FAIL);
  const std::string info = TakeErrorInfo();
  EXPECT_NE(info.find("ADODB.Recordset|"), std::string::npos) << info;
  EXPECT_NE(info.find("Data source name not found"), std::string::npos) << info;
  Var active;
  ASSERT_EQ(rs->get_ActiveConnection(&active.v), S_OK);
  ASSERT_EQ(active.v.vt, VT_DISPATCH);
  Ptr<_Connection> c;
  ASSERT_EQ(active.v.pdispVal->QueryInterface(IID__Connection, reinterpret_cast<void**>(c.Out())), S_OK);
  Ptr<Errors> errors;
  ASSERT_EQ(c->get_Errors(errors.Out()), S_OK);
  LONG count = 0;
  ASSERT_EQ(errors->get_Count(&count), S_OK);
  EXPECT_GE(count, 1);

  // Arguments that make no statement or no connection.
  Var number = Var::I4(1);
  Var text(u"SELECT 1");
  Var empty;
  EXPECT_EQ(rs->Open(number.v, text.v, adOpenStatic, adLockBatchOptimistic, adCmdUnspecified), adErrInvalidArgument);
  EXPECT_EQ(rs->Open(text.v, empty.v, adOpenStatic, adLockBatchOptimistic, adCmdUnspecified), adErrInvalidConnection);
  Ptr<_Connection> closed;
  *closed.Out() = NewConnection();
  Var closed_var;
  closed_var.v.vt = VT_DISPATCH;
  closed_var.v.pdispVal = closed.get();
  closed->AddRef();
  EXPECT_EQ(rs->Open(text.v, closed_var.v, adOpenStatic, adLockBatchOptimistic, adCmdUnspecified),
            adErrInvalidConnection);
  EXPECT_EQ(rs->put_CursorLocation(7), adErrInvalidArgument);
}

TEST(SqliteValues, ExpressionsAndBinaries) {
  const std::string conn = SqliteConnection();
  ComScope com;
  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  ASSERT_EQ(OpenRecordset(rs.get(), "SELECT 7 * 6 AS answer, x'00ff10' AS raw, NULL AS gap", conn), S_OK)
      << TakeErrorInfo();
  Ptr<Field> f;
  *f.Out() = GetField(rs.get(), 0);
  BSTR name = nullptr;
  EXPECT_EQ(f->get_Name(&name), S_OK);
  EXPECT_EQ(U8(name), "answer");
  SysFreeString(name);
  Var v;
  ASSERT_EQ(f->get_Value(&v.v), S_OK);
  VARIANT as_text;
  VariantInit(&as_text);
  ASSERT_EQ(VariantChangeType(&as_text, &v.v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(U8(as_text.bstrVal), "42");
  VariantClear(&as_text);

  *f.Out() = GetField(rs.get(), 1);
  Var raw;
  ASSERT_EQ(f->get_Value(&raw.v), S_OK);
  LONG type = 0;
  EXPECT_EQ(f->get_Type(&type), S_OK);
  ASSERT_EQ(raw.v.vt, VT_ARRAY | VT_UI1);
  {
    ASSERT_EQ(raw.v.parray->cElements, 3u);
    const auto* bytes = static_cast<const BYTE*>(raw.v.parray->pvData);
    EXPECT_EQ(bytes[0], 0x00);
    EXPECT_EQ(bytes[1], 0xFF);
    EXPECT_EQ(bytes[2], 0x10);
    LONG size = 0;
    EXPECT_EQ(f->get_ActualSize(&size), S_OK);
    EXPECT_EQ(size, 3);
    EXPECT_TRUE(type == adVarBinary || type == adLongVarBinary);
  }
}

// Long, empty and null binary values among short ones, in one result: a
// value far past its bound buffer is read again whole.
TEST(SqliteValues, BinariesArriveWholeWithTheirByteCount) {
  const std::string conn = SqliteConnection();
  ComScope com;
  for (const char* sql : {"DROP TABLE IF EXISTS bins", "CREATE TABLE bins (id INTEGER, data BLOB)",
                          "INSERT INTO bins VALUES (1, randomblob(1000000)), (2, x''), (3, NULL),"
                          " (4, x'00ff41'), (5, randomblob(9000))"}) {
    Ptr<_Recordset> rs;
    *rs.Out() = NewRecordset();
    ASSERT_EQ(OpenRecordset(rs.get(), sql, conn), S_OK) << sql << ": " << TakeErrorInfo();
  }
  EXPECT_EQ(CheckBinaryRows("SELECT id, data, CASE WHEN data IS NULL THEN NULL ELSE hex(data) END"
                            " FROM bins ORDER BY id",
                            conn),
            5);
}

}  // namespace
}  // namespace adotest
