#include "srv/db/ado_ops.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/com/comsupp.h"
#include "srv/db/convert.h"
#include "tests/support/fake_ado/connection.h"
#include "tests/support/fake_ado/recordset.h"

namespace {

struct Outcome {
  HRESULT hr = S_OK;
  bool has_info = false;
};

Outcome Attempt(const std::function<void()>& call) {
  Outcome out;
  try {
    call();
  } catch (const _com_error& e) {
    out.hr = e.Error();
    IErrorInfo* info = e.ErrorInfo();
    out.has_info = info != nullptr;
    if (info) info->Release();
  }
  return out;
}

// Makes op fail on object and checks that the failure names iid: with
// support for iid the error carries information, with support for another
// interface it does not.
template <class Fake>
void ExpectNamed(Fake& object, const std::string& op, REFIID iid, const std::function<void()>& call) {
  SCOPED_TRACE(op);
  object.fail[op] = E_FAIL;
  object.supported = iid;
  Outcome named = Attempt(call);
  EXPECT_EQ(named.hr, E_FAIL);
  EXPECT_TRUE(named.has_info);
  ASSERT_FALSE(object.asked.empty());
  EXPECT_EQ(object.asked.back(), iid);

  object.supported = IID_IDispatch;
  Outcome other = Attempt(call);
  EXPECT_EQ(other.hr, E_FAIL);
  EXPECT_FALSE(other.has_info);
  object.fail.erase(op);
  EXPECT_EQ(Attempt(call).hr, S_OK);
}

TEST(AdoOpsTest, EachOperationNamesItsInterface) {
  fake::FakeConnection conn;
  fake::FakeErrors errors;
  fake::FakeError error;
  errors.items.push_back(&error);
  conn.errors = &errors;
  ConnectionPtr c(&conn, true);
  ExpectNamed(conn, "PutConnectionString", IID_Connection15, [&] { ado::PutConnectionString(c, "DSN=x"); });
  ExpectNamed(conn, "Open", IID_Connection15, [&] { ado::Open(c, "", "", "", 0); });
  ExpectNamed(conn, "State", IID_Connection15, [&] { ado::GetState(c); });
  ExpectNamed(conn, "Errors", IID_Connection15, [&] { ado::GetErrors(c); });

  fake::FakeRecord rec;
  rec.Add(u"id").SetInt(7);
  RecordsetPtr rs(&rec.rs, true);
  _variant_t none;
  ExpectNamed(rec.rs, "PutCursorLocation", IID_Recordset15, [&] { ado::PutCursorLocation(rs, adUseClient); });
  ExpectNamed(rec.rs, "PutMaxRecords", IID_Recordset15, [&] { ado::PutMaxRecords(rs, 5); });
  ExpectNamed(rec.rs, "Open", IID_Recordset15, [&] { ado::Open(rs, none, none, 3, 4, -1); });
  ExpectNamed(rec.rs, "State", IID_Recordset15, [&] { ado::GetState(rs); });
  ExpectNamed(rec.rs, "Status", IID_Recordset15, [&] { ado::GetStatus(rs); });
  ExpectNamed(rec.rs, "RecordCount", IID_Recordset15, [&] { ado::GetRecordCount(rs); });
  ExpectNamed(rec.rs, "EOF", IID_Recordset15, [&] { ado::IsEOF(rs); });
  ExpectNamed(rec.rs, "Fields", IID_Recordset15, [&] { ado::GetFields(rs); });
  ExpectNamed(rec.rs, "MoveNext", IID_Recordset15, [&] { ado::MoveNext(rs); });
  ExpectNamed(rec.rs, "Close", IID_Recordset15, [&] { ado::Close(rs); });
  rec.rs.active.vt = VT_DISPATCH;
  rec.rs.active.pdispVal = &conn;
  conn.AddRef();
  ExpectNamed(rec.rs, "ActiveConnection", IID_Recordset15, [&] { ado::GetActiveConnection(rs); });
  VariantClear(&rec.rs.active);

  FieldsPtr fields(&rec.fields, true);
  _variant_t index;
  index.vt = VT_I2;
  index.iVal = 0;
  ExpectNamed(rec.fields, "Count", IID__Collection, [&] { ado::GetCount(fields); });
  ExpectNamed(rec.fields, "Item", IID_Fields15, [&] { ado::GetItem(fields, index); });

  FieldPtr field(rec.owned[0], true);
  fake::FakeField& f = *rec.owned[0];
  ExpectNamed(f, "Name", IID_Field20, [&] { ado::GetName(field); });
  ExpectNamed(f, "Value", IID_Field20, [&] { _variant_t v; ado::GetValue(field, &v); });
  ExpectNamed(f, "Type", IID_Field20, [&] { ado::GetType(field); });
  ExpectNamed(f, "ActualSize", IID_Field20, [&] { ado::GetActualSize(field); });
  ExpectNamed(f, "Attributes", IID_Field20, [&] { ado::GetAttributes(field); });
  ExpectNamed(f, "Status", IID_Field, [&] { ado::GetStatus(field); });

  ErrorsPtr errs(&errors, true);
  _variant_t eindex;
  eindex.vt = VT_I4;
  eindex.lVal = 0;
  ExpectNamed(errors, "Count", IID__Collection, [&] { ado::GetCount(errs); });
  ExpectNamed(errors, "Item", IID_Errors, [&] { ado::GetItem(errs, eindex); });
  ErrorPtr err(&error, true);
  ExpectNamed(error, "Number", IID_Error, [&] { ado::GetNumber(err); });
  ExpectNamed(error, "Description", IID_Error, [&] { ado::GetDescription(err); });
  error.leaky = true;
  ExpectNamed(error, "Description", IID_Error, [&] { ado::GetDescription(err); });
}

TEST(AdoOpsTest, EmptyReferencesFailBeforeAnyCall) {
  ConnectionPtr c;
  RecordsetPtr rs;
  FieldsPtr fields;
  FieldPtr field;
  ErrorsPtr errors;
  ErrorPtr error;
  _variant_t v;
  for (const auto& call : std::vector<std::function<void()>>{
           [&] { ado::Open(c, "", "", "", 0); },
           [&] { ado::PutConnectionString(c, "\xFF"); },  // before any text conversion
           [&] { ado::GetErrors(c); },
           [&] { ado::GetRecordCount(rs); },
           [&] { ado::GetActiveConnection(rs); },
           [&] { ado::GetCount(fields); },
           [&] { ado::GetItem(fields, v); },
           [&] { ado::GetName(field); },
           [&] { ado::GetStatus(field); },
           [&] { ado::GetItem(errors, v); },
           [&] { ado::GetDescription(error); },
       }) {
    Outcome out = Attempt(call);
    EXPECT_EQ(out.hr, E_POINTER);
    EXPECT_FALSE(out.has_info);
  }
}

TEST(AdoOpsTest, TextsAndValuesReachTheObjects) {
  fake::FakeConnection conn;
  ConnectionPtr c(&conn, true);
  ado::PutConnectionString(c, "DSN=d\xC3\xA9mo");
  ado::Open(c, "", "", "", 0);
  ASSERT_EQ(conn.texts.size(), 4u);
  EXPECT_EQ(conn.texts[0], u"DSN=d\u00E9mo");
  // Empty texts, not null ones.
  EXPECT_EQ(conn.texts[1], u"");
  EXPECT_EQ(conn.texts[2], u"");
  EXPECT_EQ(conn.texts[3], u"");
  EXPECT_EQ(conn.open_options, 0);
  conn.state = adStateOpen;
  EXPECT_EQ(ado::GetState(c), adStateOpen);

  fake::FakeRecord rec;
  fake::FakeField& f = rec.Add(u"na\u00EFve");
  f.SetText(u"x");
  f.attributes = adFldMayBeNull;
  f.status = 3;
  RecordsetPtr rs(&rec.rs, true);
  rec.rs.eof = VARIANT_TRUE;
  EXPECT_TRUE(ado::IsEOF(rs));
  rec.rs.eof = 0;
  EXPECT_FALSE(ado::IsEOF(rs));
  {
    FieldsPtr fields = ado::GetFields(rs);
    EXPECT_EQ(ado::GetCount(fields), 1);
    _variant_t index;
    index.vt = VT_I2;
    index.iVal = 0;
    FieldPtr field = ado::GetItem(fields, index);
    EXPECT_EQ(f.refs, 2);
    EXPECT_STREQ(ado::GetName(field).Narrow(), "na\xC3\xAFve");
    EXPECT_EQ(ado::GetAttributes(field), adFldMayBeNull);
    EXPECT_EQ(ado::GetStatus(field), 3);
    EXPECT_EQ(ado::GetActualSize(field), 2);
  }
  // Every reference handed out came back.
  EXPECT_EQ(f.refs, 1);
  EXPECT_EQ(rec.fields.refs, 1);
}

// --- Creation ---------------------------------------------------------------

fake::FakeConnection* g_connection = nullptr;
fake::FakeField* g_not_a_recordset = nullptr;
fake::FakeRecordset* g_recordset = nullptr;

HRESULT MakeConnection(REFIID riid, void** out) { return g_connection->QueryInterface(riid, out); }
HRESULT MakeRecordset(REFIID riid, void** out) { return g_recordset->QueryInterface(riid, out); }
HRESULT MakeWrong(REFIID riid, void** out) { return g_not_a_recordset->QueryInterface(riid, out); }

const CLSID kTestRecordset{0x1234ABCD, 0x1, 0x2, {0x80, 0, 0, 0, 0, 0, 0, 0x42}};
const CLSID kTestWrong{0x1234ABCE, 0x1, 0x2, {0x80, 0, 0, 0, 0, 0, 0, 0x42}};

class CreationTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GE(CoInitialize(nullptr), 0); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(CreationTest, ConnectionByClassIdentifier) {
  fake::FakeConnection conn;
  conn.refs = 0;  // only the references handed out count
  g_connection = &conn;
  ComRegisterClass(CLSID_Connection, u"ADODB.Connection", &MakeConnection);
  {
    ConnectionPtr c;
    ado::CreateConnection(c);
    EXPECT_EQ(c.Get(), static_cast<_Connection*>(&conn));
    EXPECT_EQ(conn.refs, 1);  // the IUnknown of the creation was released
  }
  EXPECT_EQ(conn.refs, 0);
  ComRegisterClass(CLSID_Connection, u"ADODB.Connection", nullptr);

  ConnectionPtr c;
  Outcome out = Attempt([&] { ado::CreateConnection(c); });
  EXPECT_EQ(out.hr, REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(out.has_info);
  EXPECT_FALSE(c);
}

TEST_F(CreationTest, RecordsetByProgramOrClassIdentifier) {
  fake::FakeRecordset rs;
  rs.refs = 0;
  g_recordset = &rs;
  ComRegisterClass(kTestRecordset, u"Test.Recordset", &MakeRecordset);
  {
    RecordsetPtr r;
    EXPECT_EQ(ado::CreateRecordset(r, "Test.Recordset"), S_OK);
    EXPECT_EQ(r.Get(), static_cast<_Recordset*>(&rs));
    EXPECT_EQ(rs.refs, 1);
    EXPECT_EQ(ado::CreateRecordset(r, "{1234ABCD-0001-0002-8000-000000000042}"), S_OK);
    EXPECT_EQ(rs.refs, 1);  // the first one was released when r was reused
  }
  EXPECT_EQ(rs.refs, 0);

  RecordsetPtr r;
  EXPECT_EQ(ado::CreateRecordset(r, "No.Such.Class"), CO_E_CLASSSTRING);
  EXPECT_EQ(ado::CreateRecordset(r, nullptr), E_INVALIDARG);
  EXPECT_EQ(ado::CreateRecordset(r, "\xFF"), HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
  EXPECT_TRUE(FAILED(ado::CreateRecordset(r, "{not a class}")));
  EXPECT_FALSE(r);

  // An object that is no recordset: E_NOINTERFACE, empty reference, nothing kept.
  fake::FakeField wrong;
  wrong.refs = 0;
  g_not_a_recordset = &wrong;
  ComRegisterClass(kTestWrong, u"Test.Wrong", &MakeWrong);
  EXPECT_EQ(ado::CreateRecordset(r, "Test.Wrong"), E_NOINTERFACE);
  EXPECT_FALSE(r);
  EXPECT_EQ(wrong.refs, 0);
  ComRegisterClass(kTestRecordset, u"Test.Recordset", nullptr);
  ComRegisterClass(kTestWrong, u"Test.Wrong", nullptr);
}

TEST(AdoOpsTest, ActiveConnectionFromItsValue) {
  fake::FakeRecord rec;
  RecordsetPtr rs(&rec.rs, true);
  fake::FakeConnection conn;

  rec.rs.active.vt = VT_DISPATCH;
  rec.rs.active.pdispVal = &conn;
  conn.AddRef();  // held by the recordset's value
  {
    ConnectionPtr c = ado::GetActiveConnection(rs);
    EXPECT_EQ(c.Get(), static_cast<_Connection*>(&conn));
    EXPECT_EQ(conn.refs, 3);
  }
  EXPECT_EQ(conn.refs, 2);  // the value read was cleared
  VariantClear(&rec.rs.active);
  EXPECT_EQ(conn.refs, 1);

  rec.rs.active.vt = VT_DISPATCH;
  rec.rs.active.pdispVal = nullptr;
  EXPECT_FALSE(ado::GetActiveConnection(rs));

  fake::FakeField other;  // an object without _Connection
  rec.rs.active.vt = VT_UNKNOWN;
  rec.rs.active.punkVal = static_cast<Field*>(&other);
  other.AddRef();
  EXPECT_FALSE(ado::GetActiveConnection(rs));
  VariantClear(&rec.rs.active);
  EXPECT_EQ(other.refs, 1);

  // A text is no object: the conversion's failure is raised bare.
  BstrToVariant(_bstr_t(u"DSN=x").GetBSTR(), &rec.rs.active);
  Outcome out = Attempt([&] { ado::GetActiveConnection(rs); });
  EXPECT_TRUE(FAILED(out.hr));
  EXPECT_NE(out.hr, E_NOINTERFACE);
  EXPECT_FALSE(out.has_info);
}

}  // namespace
