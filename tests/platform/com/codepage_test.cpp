#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/com/com.h"

namespace {

std::u16string Widen(const std::string& s, int* result = nullptr) {
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (result != nullptr) *result = n;
  if (n <= 0) return u"<fail>";
  std::u16string out(n, u'\0');
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), out.data(), n), n);
  return out;
}

std::string Narrow(const std::u16string& s) {
  int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0,
                              nullptr, nullptr);
  if (n <= 0) return "<fail>";
  std::string out(n, '\0');
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, s.data(), static_cast<int>(s.size()), out.data(), n,
                                nullptr, nullptr),
            n);
  return out;
}

TEST(CodePage, RoundTripsOfMultiByteAndAstralText) {
  const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a é € 😀 z
  std::u16string wide = Widen(utf8);
  EXPECT_EQ(wide, u"a\u00E9\u20AC\U0001F600z");
  EXPECT_EQ(wide.size(), 6u);  // the emoji is a surrogate pair
  EXPECT_EQ(Narrow(wide), utf8);
  EXPECT_EQ(Narrow(u"\U0010FFFF\uFFFD"), "\xF4\x8F\xBF\xBF\xEF\xBF\xBD");

  // Embedded NULs pass through with explicit lengths.
  const std::string with_nul("x\0y", 3);
  EXPECT_EQ(Widen(with_nul), std::u16string(u"x\0y", 3));
  EXPECT_EQ(Narrow(std::u16string(u"x\0y", 3)), with_nul);
}

TEST(CodePage, LengthMinusOneSizeQueriesAndSmallBuffers) {
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "h\xC3\xA9", -1, nullptr, 0), 3);  // h é NUL
  OLECHAR wbuf[3];
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "h\xC3\xA9", -1, wbuf, 3), 3);
  EXPECT_EQ(wbuf[2], u'\0');
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"h\u00E9", -1, nullptr, 0, nullptr, nullptr), 4);

  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wbuf, 3), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  char nbuf[3];
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"h\u00E9", -1, nbuf, 3, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", 3, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, 3, nullptr, 0), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 0, nullptr, 0), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, nullptr, 5), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  int used = 7;
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"ok", 2, nbuf, 3, nullptr, &used), 2);
  EXPECT_EQ(used, 0);
}

TEST(CodePage, InvalidInputFailsWithNoUnicodeTranslation) {
  const std::vector<std::string> bad = {
      "\xC0\xAF",          // overlong '/'
      "\xE0\x80\xAF",      // overlong, three bytes
      "\xF0\x80\x80\xAF",  // overlong, four bytes
      "\xED\xA0\x80",      // encoded high surrogate
      "\xED\xBF\xBF",      // encoded low surrogate
      "\xF4\x90\x80\x80",  // above U+10FFFF
      "\xF8\x88\x80\x80\x80",
      "\xE2\x82",          // truncated
      "ab\xC3",            // truncated at the end
      "\x80",              // stray continuation byte
      "\xC3\x28",          // lead byte without continuation
      "\xFF",
  };
  for (const std::string& s : bad) {
    SetLastError(0);
    int n = 1;
    Widen(s, &n);
    EXPECT_EQ(n, 0) << testing::PrintToString(s);
    EXPECT_EQ(GetLastError(), 1113u) << testing::PrintToString(s);
  }
  const std::vector<std::u16string> bad_wide = {
      std::u16string(1, char16_t(0xD800)),
      std::u16string(1, char16_t(0xDC00)),
      std::u16string{char16_t(0xD83D), u'x'},
      std::u16string{u'x', char16_t(0xDE00), char16_t(0xD83D)},
  };
  for (const std::u16string& s : bad_wide) {
    SetLastError(0);
    EXPECT_EQ(Narrow(s), "<fail>");
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  }
}

TEST(CodePage, LastErrorIsPerThreadAndStringLengths) {
  SetLastError(42);
  DWORD seen = 99;
  std::thread([&] { seen = GetLastError(); }).join();
  EXPECT_EQ(seen, 0u);
  EXPECT_EQ(GetLastError(), 42u);

  EXPECT_EQ(lstrlenA(nullptr), 0);
  EXPECT_EQ(lstrlenA("abc"), 3);
  EXPECT_EQ(lstrlenW(nullptr), 0);
  EXPECT_EQ(lstrlenW(u"\U0001F600"), 2);
}

}  // namespace
