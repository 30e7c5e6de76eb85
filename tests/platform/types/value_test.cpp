// ZR_TAny, ZR_TDict, ZR_TArray and the typed fetch of request parameters.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "platform/types/zr.h"

namespace {

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ZR_EException& e) {
    return e.Message();
  }
  return "(no exception)";
}

ZR_TDict Request() {
  ZR_TDict d;
  d.Add("M", ZR_TAny("extr"))
      .Add("S", ZR_TAny("Ab"))
      .Add("C", ZR_TAny(","))
      .Add("E", ZR_TAny("é"))
      .Add("I", ZR_TAny(int64_t{-5}))
      .Add("MAX", ZR_TAny(int64_t{2147483647}))
      .Add("MIN", ZR_TAny(int64_t{-2147483648LL}))
      .Add("P31", ZR_TAny(int64_t{1} << 31))
      .Add("U", ZR_TAny(int64_t{4294967295LL}))
      .Add("P32", ZR_TAny(int64_t{1} << 32))
      .Add("D", ZR_TAny(3.0))
      .Add("B", ZR_TAny(true))
      .Add("N", ZR_TAny());
  return d;
}

TEST(Fetch, EveryTypeAgainstRightAndWrongEntries) {
  const ZR_TDict d = Request();
  EXPECT_EQ(ZR_Fetch<ZR_TString>(d, "S", "ZR_TString"), "Ab");
  EXPECT_EQ(ZR_Fetch<char>(d, "C", "ZR_TChar"), ',');
  EXPECT_EQ(ZR_Fetch<int32_t>(d, "I", "ZR_TInt32"), -5);
  EXPECT_EQ(ZR_Fetch<int32_t>(d, "MAX", "ZR_TInt32"), INT32_MAX);
  EXPECT_EQ(ZR_Fetch<int32_t>(d, "MIN", "ZR_TInt32"), INT32_MIN);
  EXPECT_EQ(ZR_Fetch<uint32_t>(d, "P31", "ZR_TUInt32"), 2147483648u);
  EXPECT_EQ(ZR_Fetch<uint32_t>(d, "U", "ZR_TUInt32"), 4294967295u);

  EXPECT_EQ(MessageOf([&] { ZR_Fetch<uint32_t>(d, "S", "ZR_TUInt32"); }),
            "parameter \"S\": expected ZR_TUInt32, found ZR_TString");
  EXPECT_EQ(MessageOf([&] { ZR_Fetch<ZR_TString>(d, "I", "ZR_TString"); }),
            "parameter \"I\": expected ZR_TString, found integer");
  EXPECT_EQ(MessageOf([&] { ZR_Fetch<int32_t>(d, "P31", "ZR_TInt32"); }),
            "parameter \"P31\": expected ZR_TInt32, found integer 2147483648 (out of range)");
  EXPECT_THROW(ZR_Fetch<uint32_t>(d, "I", "ZR_TUInt32"), ZR_EException);
  EXPECT_THROW(ZR_Fetch<uint32_t>(d, "P32", "ZR_TUInt32"), ZR_EException);
  EXPECT_THROW(ZR_Fetch<char>(d, "S", "ZR_TChar"), ZR_EException);   // two bytes
  EXPECT_THROW(ZR_Fetch<char>(d, "E", "ZR_TChar"), ZR_EException);   // one char, two bytes
  EXPECT_THROW(ZR_Fetch<char>(d, "I", "ZR_TChar"), ZR_EException);
  EXPECT_THROW(ZR_Fetch<int32_t>(d, "D", "ZR_TInt32"), ZR_EException);
  EXPECT_THROW(ZR_Fetch<int32_t>(d, "B", "ZR_TInt32"), ZR_EException);
  EXPECT_THROW(ZR_Fetch<ZR_TString>(d, "N", "ZR_TString"), ZR_EException);
  EXPECT_EQ(MessageOf([&] { ZR_Fetch<ZR_TString>(d, "S", "ZR_TWidget"); }),
            "parameter \"S\": expected ZR_TWidget, found ZR_TString");
  EXPECT_EQ(MessageOf([&] { ZR_Fetch<ZR_TString>(d, "P3", "ZR_TString"); }),
            "missing parameter \"P3\"");
  EXPECT_THROW(d.Item(nullptr), ZR_EException);

  // A string asked directly, outside a dictionary.
  ZR_TString one("x");
  EXPECT_EQ(*static_cast<const char*>(one.DynamicCast("ZR_TChar")), 'x');
  EXPECT_THROW(ZR_TString("xy").DynamicCast("ZR_TChar"), ZR_EException);
  EXPECT_THROW(one.DynamicCast("ZR_TInt32"), ZR_EException);
}

TEST(Dict, KeepsOrderAndReplacesInPlace) {
  ZR_TDict d;
  d.Add("b", ZR_TAny(int64_t{1})).Add("a", ZR_TAny(int64_t{2})).Add(L"c", ZR_TAny(int64_t{3}));
  d.Add("b", ZR_TAny("again"));
  d.Add(static_cast<const char*>(nullptr), ZR_TAny(true));
  ASSERT_EQ(d.Size(), 4u);
  EXPECT_EQ(d.Entries()[0].key, "b");
  EXPECT_EQ(*d.Entries()[0].value.AsString(), "again");
  EXPECT_EQ(d.Entries()[1].key, "a");
  EXPECT_EQ(d.Entries()[2].key, "c");
  EXPECT_EQ(d.Entries()[3].key, "");
  EXPECT_TRUE(d.Has(""));
  EXPECT_TRUE(d.Has(nullptr));
  EXPECT_FALSE(d.Has("B"));
  EXPECT_EQ(d.Find("zz"), nullptr);
  EXPECT_EQ(*d["a"].AsInt(), 2);
}

TEST(Array, BoundsAndEmptyElements) {
  ZR_TArray a(2);
  EXPECT_TRUE(a[0].IsEmpty());
  a[1] = ZR_TAny("x");
  EXPECT_THROW(a[2], ZR_EException);
  const ZR_TArray& ca = a;
  EXPECT_THROW(ca[0xFFFFFFFFu], ZR_EException);
  a.Append(ZR_TAny(int64_t{7}));
  EXPECT_EQ(a.Size(), 3u);
  EXPECT_EQ(*ca[2].AsInt(), 7);
  EXPECT_THROW(ZR_TArray()[0], ZR_EException);
}

TEST(Any, CopiesAreDeepAndTextFollowsChanges) {
  ZR_TDict inner;
  inner.Add("k", ZR_TAny(int64_t{1}));
  ZR_TAny a(inner);
  ZR_TAny b = a;
  b.AsDict()->Add("k", ZR_TAny(int64_t{2}));
  EXPECT_STREQ(a.Text(), "{\"k\":1}");
  EXPECT_STREQ(b.Text(), "{\"k\":2}");
  a.AsDict()->Add("z", ZR_TAny());
  EXPECT_STREQ(a.Text(), "{\"k\":1,\"z\":null}");
  EXPECT_STREQ(ZR_TAny("plain").Text(), "plain");
  EXPECT_STREQ(ZR_TAny().KindName(), "null");

  // Assigning a value held inside the target must not read freed memory.
  ZR_TArray arr(1);
  arr[0] = ZR_TAny("deep");
  ZR_TAny holder(std::move(arr));
  holder = holder.AsArray()->Items()[0];
  EXPECT_STREQ(holder.Text(), "deep");

  ZR_TAny from_packable(static_cast<const ZR_IPackable&>(ZR_TString("p")));
  EXPECT_EQ(*from_packable.AsString(), "p");
  std::ostringstream out;
  out << static_cast<const ZR_IPrintable&>(from_packable) << ' '
      << static_cast<const ZR_IPrintable&>(ZR_TAny(int64_t{-3}));
  EXPECT_EQ(out.str(), "p -3");
}

}  // namespace

// Past the indexed size, lookups and replacement must behave exactly as in a
// small dictionary, in the original, a copy and a moved-to dictionary.
TEST(Dict, LargeDictionaryKeepsOrderAndReplacesInPlace) {
  ZR_TDict d;
  const int n = static_cast<int>(ZR_TDict::kIndexFrom) * 3;
  for (int i = 0; i < n; ++i) d.Add(ZR_TString::Format("k%d", i), ZR_TAny(int64_t{i}));
  d.Add("k5", ZR_TAny("five"));
  d.Add(ZR_TString::Format("k%d", n - 1), ZR_TAny("last"));
  ASSERT_EQ(d.Size(), static_cast<size_t>(n));
  EXPECT_EQ(d.Entries()[5].key, "k5");
  EXPECT_EQ(*d.Find("k5")->AsString(), "five");
  EXPECT_EQ(*d.Find(ZR_TString::Format("k%d", n - 1).c_str())->AsString(), "last");
  EXPECT_EQ(d.Find("k-missing"), nullptr);

  ZR_TDict copy = d;
  copy.Add("k7", ZR_TAny("seven"));
  copy.Add("extra", ZR_TAny(true));
  EXPECT_EQ(*copy.Find("k7")->AsString(), "seven");
  EXPECT_EQ(*d.Find("k7")->AsInt(), 7);
  EXPECT_EQ(copy.Size(), static_cast<size_t>(n + 1));
  EXPECT_EQ(copy.Entries().back().key, "extra");

  ZR_TDict moved = std::move(copy);
  EXPECT_TRUE(moved.Has("extra"));
  EXPECT_EQ(*moved.Find("k40")->AsInt(), 40);
}
