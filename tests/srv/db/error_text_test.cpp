#include "srv/db/error_text.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/fake_ado/connection.h"
#include "tests/support/fake_ado/recordset.h"
#include "tests/platform/com/fake_error_info.h"
#include "tests/srv/db/trace_capture.h"

namespace {

// The message table's text for hr, one trailing line break removed.
std::string TableMeaning(HRESULT hr) {
  OLECHAR* text = nullptr;
  DWORD n = FormatMessageW(0x1300, nullptr, static_cast<DWORD>(hr), 0x0400,
                           reinterpret_cast<OLECHAR*>(&text), 0, nullptr);
  EXPECT_GT(n, 0u) << "the message table knows " << std::hex << hr;
  if (!text) return {};
  std::u16string m(text);
  LocalFree(text);
  if (m.size() > 1 && m.back() == u'\n') {
    m.pop_back();
    if (m.back() == u'\r') m.pop_back();
  }
  return _bstr_t(m.c_str()).Narrow();
}

TEST(ErrorTextTest, OneLineText) {
  const std::string pointer = TableMeaning(E_POINTER);
  ASSERT_FALSE(pointer.empty());
  EXPECT_EQ(FormatComError(_com_error(E_POINTER)),
            ("Error code = 80004003 (" + pointer + ") (null) (Source=(null))").c_str());

  FakeErrorInfo info(u"ADODB.Recordset", u"[42000] no such table: t");
  EXPECT_EQ(FormatComError(_com_error(MakeHr(0x80040205), &info, true)),
            "Error code = 80040205 (IDispatch error #5) [42000] no such table: t (Source=ADODB.Recordset)");
  EXPECT_EQ(FormatComError(_com_error(MakeHr(0x00000007))), "Error code = 00000007 (Unknown error 0x7) (null) (Source=(null))");

  // Never cut, however long the description.
  const std::u16string long_text(3000, u'd');
  FakeErrorInfo big(u"S", long_text.c_str());
  const ZR_TString line = FormatComError(_com_error(MakeHr(0x80040201), &big, true));
  EXPECT_EQ(line.ByteLength(), std::string("Error code = 80040201 (IDispatch error #1)  (Source=S)").size() + 3000);
  EXPECT_EQ(info.refs, 1);
  EXPECT_EQ(big.refs, 1);
}

TEST(ErrorTextTest, ComErrorTraceHasFourLines) {
  CaptureServer server(1);
  FakeErrorInfo info(u"ADODB.Connection", u"login refused");
  TraceComError(server, _com_error(MakeHr(0x80040203), &info, true));
  EXPECT_EQ(server.Lines(), (std::vector<TraceLine>{{1, "\tCode = 80040203"},
                                                  {1, "\tCode meaning = IDispatch error #3"},
                                                  {1, "\tSource = ADODB.Connection"},
                                                  {1, "\tDescription = login refused"}}));
  server.Clear();
  TraceComError(server, _com_error(MakeHr(0x80040203)));
  ASSERT_EQ(server.Lines().size(), 4u);
  EXPECT_EQ(server.Lines()[2].text, "\tSource = (null)");
  EXPECT_EQ(server.Lines()[3].text, "\tDescription = (null)");
}

TEST(ErrorTextTest, AdoErrorListing) {
  CaptureServer server(1);
  fake::FakeConnection conn;
  fake::FakeErrors errors;
  conn.errors = &errors;

  TraceAdoErrors(server, ConnectionPtr(&conn, true));
  EXPECT_TRUE(server.Lines().empty());
  EXPECT_EQ(conn.refs, 1);

  fake::FakeError first, second;
  first.number = E_FAIL;
  first.description = u"[08001] cannot connect";
  second.number = 0x10;
  second.description = u"second";
  errors.items = {&first, &second};
  TraceAdoErrors(server, ConnectionPtr(&conn, true));
  EXPECT_EQ(server.Lines(), (std::vector<TraceLine>{{1, "Error number: 80004005\t[08001] cannot connect"},
                                                  {1, "Error number: 10\tsecond"}}));
  EXPECT_EQ(errors.index_types, (std::vector<VARTYPE>{VT_I4, VT_I4}));
  EXPECT_EQ(first.log, (std::vector<std::string>{"Description", "Number"}));
  EXPECT_EQ(conn.refs, 1);
  EXPECT_EQ(errors.refs, 1);
  EXPECT_EQ(first.refs, 1);
  EXPECT_EQ(second.refs, 1);

  // A failing Item leaves the listing where it is, with every reference back.
  server.Clear();
  errors.fail["Item"] = E_FAIL;
  errors.supported = IID_Errors;
  try {
    TraceAdoErrors(server, ConnectionPtr(&conn, true));
    FAIL() << "the failing Item must be raised";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_FAIL);
    EXPECT_STREQ(e.Description().Narrow(), "fake failure");
  }
  EXPECT_TRUE(server.Lines().empty());
  EXPECT_EQ(conn.refs, 1);
  EXPECT_EQ(errors.refs, 1);

  try {
    TraceAdoErrors(server, ConnectionPtr());
    FAIL() << "an empty connection must be refused";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_POINTER);
  }
}

}  // namespace
