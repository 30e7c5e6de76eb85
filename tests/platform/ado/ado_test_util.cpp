#include "tests/platform/ado/ado_test_util.h"

#include <map>

#include "tests/support/odbc_env.h"

namespace adotest {

std::u16string U16(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string U8(const std::u16string& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::string U8(BSTR text) { return text ? U8(std::u16string(text, SysStringLen(text))) : std::string(); }

std::string TakeErrorInfo() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || info == nullptr) return "";
  BSTR source = nullptr;
  BSTR description = nullptr;
  info->GetSource(&source);
  info->GetDescription(&description);
  std::string out = U8(source) + "|" + U8(description);
  SysFreeString(source);
  SysFreeString(description);
  info->Release();
  return out;
}

void ExpectSampleIsTheTestsDsn(const std::string& sample, const std::string& readme, const std::string& test_dsn) {
  auto behaviour = [](const vqtest::DsnKeys& keys) {
    std::map<std::string, std::string> settings;
    for (const auto& [key, value] : keys)
      if (!vqtest::IsPlaceKey(key)) settings[key] = value;
    return settings;
  };
  const auto contrib = behaviour(vqtest::ContribSection(sample));
  ASSERT_FALSE(contrib.empty()) << "no [" << sample << "] in contrib/odbc.ini";
  EXPECT_EQ(behaviour(vqtest::TestSection(test_dsn)), contrib) << "[" << test_dsn << "] of the tests";
  EXPECT_EQ(behaviour(vqtest::ReadmeSection(readme)), contrib) << "[" << readme << "] of the README";

  const std::string dsn = vqtest::AddSampleDsn(sample, test_dsn);
  Ptr<_Recordset> rs;
  *rs.Out() = NewRecordset();
  ASSERT_EQ(OpenRecordset(rs.get(), "SELECT 'sample' AS one", "DSN=" + dsn), S_OK) << TakeErrorInfo();
  EXPECT_EQ(FieldText(rs.get(), 0), "sample");
}

_Connection* NewConnection() {
  AdoRegisterClasses();
  _Connection* c = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_Connection, nullptr, CLSCTX_ALL, IID__Connection, reinterpret_cast<void**>(&c)),
            S_OK);
  return c;
}

_Recordset* NewRecordset() {
  AdoRegisterClasses();
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(u"ADODB.Recordset", &clsid), S_OK);
  _Recordset* rs = nullptr;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID__Recordset, reinterpret_cast<void**>(&rs)), S_OK);
  return rs;
}

HRESULT OpenRecordset(_Recordset* rs, const std::string& sql, const std::string& connection) {
  Var source(U16(sql));
  Var active(U16(connection));
  return rs->Open(source.v, active.v, adOpenStatic, adLockBatchOptimistic, adCmdUnspecified);
}

Field* GetField(_Recordset* rs, LONG index) {
  Fields* fields = nullptr;
  EXPECT_EQ(rs->get_Fields(&fields), S_OK);
  if (!fields) return nullptr;
  Field* field = nullptr;
  Var i = Var::I2(static_cast<SHORT>(index));
  EXPECT_EQ(fields->get_Item(i.v, &field), S_OK);
  fields->Release();
  return field;
}

std::string FieldText(_Recordset* rs, LONG index) {
  Field* field = GetField(rs, index);
  if (!field) return "<no field>";
  Var value;
  EXPECT_EQ(field->get_Value(&value.v), S_OK);
  field->Release();
  EXPECT_EQ(value.v.vt, VT_BSTR);
  return value.v.vt == VT_BSTR ? U8(value.v.bstrVal) : "<not text>";
}

}  // namespace adotest
