#include "platform/com/comsupp.h"

#include <gtest/gtest.h>

#include <string>


namespace {

HRESULT CodeOf(const auto& f) {
  try {
    f();
  } catch (const _com_error& e) {
    return e.Error();
  }
  return S_OK;
}

TEST(BstrTest, NullTextsStayNull) {
  EXPECT_TRUE(_bstr_t().IsNull());
  EXPECT_EQ(_bstr_t().Narrow(), nullptr);
  EXPECT_TRUE(_bstr_t(static_cast<const char*>(nullptr)).IsNull());
  EXPECT_TRUE(_bstr_t(static_cast<const OLECHAR*>(nullptr)).IsNull());
  EXPECT_TRUE(_bstr_t(static_cast<BSTR>(nullptr), true).IsNull());
  EXPECT_EQ(_bstr_t().copy(), nullptr);
  // The empty text is not null.
  _bstr_t empty("");
  EXPECT_FALSE(empty.IsNull());
  EXPECT_STREQ(empty.Narrow(), "");
}

TEST(BstrTest, CopiesShareTheHolderAndTheNarrowCopy) {
  _bstr_t a(u"gr\u00FC\u00DFe");
  _bstr_t b = a;
  EXPECT_EQ(a.GetBSTR(), b.GetBSTR());
  const char* first = a.Narrow();
  EXPECT_STREQ(first, "gr\xC3\xBC\xC3\x9F" "e");
  EXPECT_EQ(b.Narrow(), first);  // made once, kept for every copy
  EXPECT_EQ(a.Narrow(), first);

  _bstr_t c(u"other");
  c = a;
  EXPECT_EQ(c.GetBSTR(), a.GetBSTR());
  c = c;  // self-assignment keeps the text
  EXPECT_STREQ(c.Narrow(), first);
  _bstr_t moved(std::move(c));
  EXPECT_TRUE(c.IsNull());
  EXPECT_EQ(moved.GetBSTR(), a.GetBSTR());

  BSTR own = a.copy();
  EXPECT_NE(own, a.GetBSTR());
  EXPECT_EQ(std::u16string(own), std::u16string(a.GetBSTR()));
  SysFreeString(own);
}

TEST(BstrTest, NarrowStopsAtTheFirstNul) {
  const char16_t raw[] = u"ab\0cd";
  _bstr_t t(SysAllocStringLen(raw, 5), false);
  EXPECT_EQ(t.length(), 5u);
  EXPECT_STREQ(t.Narrow(), "ab");
  // A copy keeps every unit, the NUL included.
  BSTR c = t.copy();
  ASSERT_EQ(SysStringLen(c), 5u);
  EXPECT_EQ(c[3], u'c');
  SysFreeString(c);
}

TEST(BstrTest, BadTextsRaiseTheConversionError) {
  const char16_t lone[] = {0xD800, u'x', 0};
  _bstr_t bad(lone);
  EXPECT_EQ(CodeOf([&] { bad.Narrow(); }), HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
  EXPECT_EQ(CodeOf([] { _bstr_t t("\xFF\xFE"); }), HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
  EXPECT_STREQ(_bstr_t("z\xC3\xA9").Narrow(), "z\xC3\xA9");
  EXPECT_EQ(_bstr_t("z\xC3\xA9").length(), 2u);
}

}  // namespace
