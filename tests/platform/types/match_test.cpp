// Wildcard matching.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/types/zr.h"

namespace {

bool M(const char* text, const char* pattern, bool ignore_case = false) {
  return ZR_TString(text).Match(ZR_TString(pattern), ignore_case);
}

TEST(Match, InsertPrefixWithCaseFlag) {
  EXPECT_TRUE(M("INSERT INTO t VALUES (1)", "INSERT*", true));
  EXPECT_TRUE(M("insert into t values (1)", "INSERT*", true));
  EXPECT_TRUE(M("InSeRt", "INSERT*", true));
  EXPECT_FALSE(M("insert into t", "INSERT*", false));
  EXPECT_FALSE(M("SELECT 1", "INSERT*", true));
  EXPECT_FALSE(M(" INSERT", "INSERT*", true));
  EXPECT_FALSE(M("INSER", "INSERT*", true));
  EXPECT_TRUE(M("ÉTÉ", "été", true));
  EXPECT_FALSE(M("ÉTÉ", "été", false));
}

TEST(Match, WildcardsAndEmptyPieces) {
  EXPECT_TRUE(M("", ""));
  EXPECT_FALSE(M("a", ""));
  EXPECT_TRUE(M("", "*"));
  EXPECT_TRUE(M("", "***"));
  EXPECT_FALSE(M("", "?"));
  EXPECT_TRUE(M("abc", "a?c"));
  EXPECT_FALSE(M("ac", "a?c"));
  EXPECT_TRUE(M("a漢c", "a?c"));  // '?' is one character, not one byte
  EXPECT_TRUE(M("😀", "?"));
  EXPECT_TRUE(M("abcbd", "a*bd"));
  EXPECT_TRUE(M("abc", "*c"));
  EXPECT_FALSE(M("abcd", "*c"));
  EXPECT_TRUE(M("a*b", "a*b"));
  EXPECT_TRUE(M("xaYbz", "*a?b*"));
  EXPECT_TRUE(M("mississippi", "m*iss*ppi"));
  EXPECT_FALSE(M("mississippi", "m*iss*ppx"));
}

TEST(Match, PathologicalPatternsStayFast) {
  const std::string text(20000, 'a');
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(M(text.c_str(), "a*a*a*a*a*a*a*a*a*a*b"));
  EXPECT_TRUE(M(text.c_str(), "*a*a*a*a*a*a*a*a*a*a"));
  EXPECT_FALSE(M(text.c_str(), "*?*?*?*?*b*"));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(2));
}

}  // namespace
