#include "platform/com/comsupp.h"

#include <gtest/gtest.h>

#include "platform/com/com_testing.h"
#include "srv/db/ado_ops.h"
#include "tests/support/fake_ado/connection.h"
#include "tests/support/fake_ado/recordset.h"
#include "tests/platform/com/fake_error_info.h"

// _com_issue_errorex against a data object that answers ISupportErrorInfo.
namespace {

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

}  // namespace
