#include "srv/db/com_error.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/com/com_testing.h"
#include "srv/db/ado_ops.h"
#include "tests/support/fake_ado/connection.h"
#include "tests/support/fake_ado/recordset.h"
#include "tests/srv/db/fake_error_info.h"

namespace {

std::u16string Meaning(HRESULT hr) {
  _com_error e(hr);
  const OLECHAR* m = e.CodeMeaning();
  return m ? std::u16string(m) : u"<null>";
}

TEST(ComErrorTest, FallbackMeaningsOutsideTheMessageTable) {
  EXPECT_EQ(Meaning(MakeHr(0x80040205)), u"IDispatch error #5");
  EXPECT_EQ(Meaning(MakeHr(0x80040200)), u"Unknown error 0x80040200");
  EXPECT_EQ(Meaning(MakeHr(0x8004FFFF)), u"IDispatch error #65023");
  EXPECT_EQ(Meaning(MakeHr(0x80050000)), u"Unknown error 0x80050000");
  EXPECT_EQ(Meaning(MakeHr(0x8004FFFE)), u"IDispatch error #65022");
  EXPECT_EQ(Meaning(MakeHr(0x800401FF)), u"Unknown error 0x800401FF");
}

TEST(ComErrorTest, OneTrailingLineBreakIsRemoved) {
  const HRESULT crlf = MakeHr(0x8004A001), two = MakeHr(0x8004A002), lf = MakeHr(0x8004A003),
                only_lf = MakeHr(0x8004A004);
  ComSetMessageForTesting(crlf, u"Bad thing.\r\n");
  ComSetMessageForTesting(two, u"Line one\n\n");
  ComSetMessageForTesting(lf, u"Plain\n");
  ComSetMessageForTesting(only_lf, u"\n");
  EXPECT_EQ(Meaning(crlf), u"Bad thing.");
  EXPECT_EQ(Meaning(two), u"Line one\n");
  EXPECT_EQ(Meaning(lf), u"Plain");
  EXPECT_EQ(Meaning(only_lf), u"\n");
}

TEST(ComErrorTest, MeaningIsBuiltOnceAndWhatShowsTheCode) {
  _com_error e(MakeHr(0x80040205));
  const OLECHAR* first = e.CodeMeaning();
  EXPECT_EQ(e.CodeMeaning(), first);
  EXPECT_STREQ(e.what(), "80040205 IDispatch error #5");
  _com_error copy(e);
  EXPECT_NE(copy.CodeMeaning(), first);  // its own text
  EXPECT_EQ(std::u16string(copy.CodeMeaning()), std::u16string(first));
  _com_error other(MakeHr(0x80040206));
  other = e;
  EXPECT_EQ(other.Error(), e.Error());
  EXPECT_STREQ(other.what(), "80040205 IDispatch error #5");
}

TEST(ComErrorTest, ErrorInformationIsSharedAndCounted) {
  FakeErrorInfo info(u"Src", u"Desc");
  {
    _com_error e(E_FAIL, &info, true);
    EXPECT_EQ(info.refs, 2);
    _com_error copy(e);
    EXPECT_EQ(info.refs, 3);
    IErrorInfo* got = e.ErrorInfo();
    EXPECT_EQ(got, &info);
    EXPECT_EQ(info.refs, 4);
    got->Release();
    EXPECT_STREQ(e.Source().Narrow(), "Src");
    EXPECT_STREQ(copy.Description().Narrow(), "Desc");
    _com_error plain(E_FAIL);
    plain = e;
    EXPECT_EQ(info.refs, 4);
    plain = plain;
    EXPECT_EQ(info.refs, 4);
  }
  EXPECT_EQ(info.refs, 1);

  info.failing = true;
  _com_error failing(E_FAIL, &info, true);
  EXPECT_TRUE(failing.Source().IsNull());
  EXPECT_TRUE(failing.Description().IsNull());
  EXPECT_TRUE(_com_error(E_FAIL).Source().IsNull());
}

HRESULT IssuedWith(fake::FakeField& object, REFIID iid, bool* has_info) {
  ComSetErrorInfo(IID_Field20, u"Fake.Source", u"fake failure");
  try {
    _com_issue_errorex(E_FAIL, static_cast<Field*>(&object), iid);
  } catch (const _com_error& e) {
    IErrorInfo* info = e.ErrorInfo();
    *has_info = info != nullptr;
    if (info) {
      EXPECT_STREQ(e.Source().Narrow(), "Fake.Source");
      info->Release();
    }
    return e.Error();
  }
  return S_OK;
}

TEST(ComErrorTest, InformationOnlyWhenSupportedForTheNamedInterface) {
  fake::FakeField object;
  object.supported = IID_Field20;
  bool has_info = false;

  EXPECT_EQ(IssuedWith(object, IID_Field20, &has_info), E_FAIL);
  EXPECT_TRUE(has_info);
  ASSERT_FALSE(object.asked.empty());
  EXPECT_EQ(object.asked.back(), IID_Field20);
  EXPECT_EQ(object.refs, 1);  // ISupportErrorInfo released

  EXPECT_EQ(IssuedWith(object, IID_Field, &has_info), E_FAIL);  // answers S_FALSE
  EXPECT_FALSE(has_info);

  object.support_answer = MakeHr(0x00000002);  // a success, but not S_OK
  EXPECT_EQ(IssuedWith(object, IID_Field20, &has_info), E_FAIL);
  EXPECT_FALSE(has_info);

  object.support_answer = S_OK;
  object.has_support = false;
  const size_t asked = object.asked.size();
  EXPECT_EQ(IssuedWith(object, IID_Field20, &has_info), E_FAIL);
  EXPECT_FALSE(has_info);
  EXPECT_EQ(object.asked.size(), asked);
  EXPECT_EQ(object.refs, 1);
}

TEST(ComErrorTest, LastSystemErrorBecomesAFailureCode) {
  auto issued = [](DWORD last) {
    SetLastError(last);
    try {
      _com_issue_last_error();
    } catch (const _com_error& e) {
      return e.Error();
    }
    return S_OK;
  };
  EXPECT_EQ(issued(ERROR_NO_UNICODE_TRANSLATION), MakeHr(0x80070459));
  EXPECT_EQ(issued(ERROR_NOT_ENOUGH_MEMORY), MakeHr(0x80070008));
  EXPECT_EQ(issued(0x80004005u), E_FAIL);
  EXPECT_EQ(issued(ERROR_SUCCESS), E_FAIL);  // never a success code in an error
}

}  // namespace
