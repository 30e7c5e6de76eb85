// ZR_TString: construction, character positions, cuts and searches.
#include <gtest/gtest.h>

#include <string>

#include "platform/types/zr.h"

namespace {

// "é" is 2 bytes, "漢" 3, "😀" 4.
const char* const kMixed = "aé漢😀b";

TEST(String, ConstructsFromEveryEncoding) {
  EXPECT_EQ(ZR_TString(static_cast<const char*>(nullptr)), "");
  EXPECT_EQ(ZR_TString("abcdef", 3), "abc");
  EXPECT_EQ(ZR_TString(L"aé漢😀b"), kMixed);
  EXPECT_EQ(ZR_TString(u"aé漢😀b"), kMixed);
  EXPECT_EQ(ZR_TString(u"xy", 1), "x");
  const char16_t lone[] = {u'a', 0xD800, u'b', 0};
  EXPECT_EQ(ZR_TString(lone), "a\xEF\xBF\xBD" "b");
  const wchar_t bad[] = {L'a', static_cast<wchar_t>(0x110000), 0};
  EXPECT_EQ(ZR_TString(bad), "a\xEF\xBF\xBD");

  ZR_TString s(kMixed);
  EXPECT_EQ(std::wstring(s.WideText()), L"aé漢😀b");
  EXPECT_EQ(std::u16string(s.Utf16Text()), u"aé漢😀b");
  ZR_TString invalid("a\xFF");
  EXPECT_EQ(std::wstring(invalid.WideText()), L"a\uFFFD");
}

TEST(String, LengthCountsCharactersAndFollowsChanges) {
  ZR_TString s(kMixed);
  EXPECT_EQ(s.Length(), 5);
  EXPECT_EQ(ZR_TString("").Length(), 0);
  EXPECT_EQ(ZR_TString("abc").Length(), 3);
  EXPECT_EQ(ZR_TString("a\xFF\xC3").Length(), 3);  // bad bytes count one each
  s += ZR_TString("é");
  EXPECT_EQ(s.Length(), 6);
  ZR_TString copy = s;
  copy += ZR_TString("z");
  EXPECT_EQ(s.Length(), 6);
  EXPECT_EQ(copy.Length(), 7);
  EXPECT_EQ(std::wstring(copy.WideText()), L"aé漢😀béz");
  s += s;
  EXPECT_EQ(s.Length(), 12);
}

TEST(String, CopiesKeepTheirOwnWideForms) {
  ZR_TString a("one");
  const wchar_t* wa = a.WideText();
  ZR_TString b = a;
  b = ZR_TString("two");
  EXPECT_EQ(std::wstring(b.WideText()), L"two");
  EXPECT_EQ(std::wstring(wa), L"one");
  ZR_TString c(std::move(b));
  EXPECT_EQ(std::wstring(c.WideText()), L"two");
  EXPECT_EQ(c.Length(), 3);
}

TEST(String, SubStringAtAndPastTheEnd) {
  ZR_TString s(kMixed);
  EXPECT_EQ(s.SubString(1, 2), "é漢");
  EXPECT_EQ(s.SubString(3, 1), "😀");
  EXPECT_EQ(s.SubString(2, ZR_TString::kWhole), "漢😀b");
  EXPECT_EQ(s.SubString(4, 100), "b");
  EXPECT_EQ(s.SubString(5, 1), "");
  EXPECT_EQ(s.SubString(6, ZR_TString::kWhole), "");
  EXPECT_EQ(s.SubString(0xFFFFFFFEu, 3), "");
  EXPECT_EQ(s.SubString(0, 0), "");

  ZR_TString ascii("abcdef");
  EXPECT_EQ(ascii.SubString(2, 3), "cde");
  EXPECT_EQ(ascii.SubString(2, ZR_TString::kWhole), "cdef");
  EXPECT_EQ(ascii.SubString(0, ZR_TString::kWhole), "abcdef");
  EXPECT_EQ(ascii.SubString(6, 1), "");
  EXPECT_EQ(ascii.SubString(4, 0xFFFFFFF0u), "ef");
}

TEST(String, FindWithStartsInsideAndOutside) {
  ZR_TString s("é,漢,b");
  EXPECT_EQ(s.Find(',', 0), 1);
  EXPECT_EQ(s.Find(',', 2), 3);
  EXPECT_EQ(s.Find(',', 4), -1);
  EXPECT_EQ(s.Find('b', -7), 4);
  EXPECT_EQ(s.Find(',', 5), -1);
  EXPECT_EQ(s.Find(',', INT32_MAX), -1);
  EXPECT_EQ(s.Find('\xA9', 0), -1);  // a byte inside "é" is not a character

  ZR_TString ascii("a,b,");
  EXPECT_EQ(ascii.Find(',', 0), 1);
  EXPECT_EQ(ascii.Find(',', 2), 3);
  EXPECT_EQ(ascii.Find(',', 4), -1);
  EXPECT_EQ(ascii.Find(',', -1), 1);
  EXPECT_EQ(ZR_TString("").Find(',', 0), -1);
  EXPECT_EQ(ZR_TString("a\xFF" "b").Find('\xFF', 0), 1);
  EXPECT_THROW(ascii.Find(',', 0, 1), ZR_EException);
}

TEST(String, FormatConcatAndCompare) {
  EXPECT_EQ(ZR_TString::Format("record nr %d ", 7), "record nr 7 ");
  const std::string big(5000, 'x');
  ZR_TString long_text = ZR_TString::Format("[%s]%d", big.c_str(), 42);
  EXPECT_EQ(long_text.ByteLength(), 5004u);
  EXPECT_EQ(long_text.SubString(5001, 3), "]42");
  EXPECT_EQ(ZR_TString::Format("%s", ""), "");
  EXPECT_THROW(ZR_TString::Format(nullptr), ZR_EException);

  ZR_TString a("Ab"), b("c");
  EXPECT_EQ(a + b, "Abc");
  EXPECT_EQ(a, "Ab");
  EXPECT_FALSE(a == "ab");
  EXPECT_FALSE(a == "Ab ");
  EXPECT_TRUE(ZR_TString() == static_cast<const char*>(nullptr));
  EXPECT_TRUE(a + b == ZR_TString("Abc"));
}

}  // namespace
