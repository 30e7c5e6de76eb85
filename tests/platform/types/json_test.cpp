// JSON codec.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "platform/types/zr_json.h"

namespace {

std::string DecodeError(const std::string& text) {
  try {
    ZR_JsonDecode(text);
  } catch (const ZR_EJsonError& e) {
    return e.Message();
  }
  return "(decoded)";
}

std::string RoundTrip(const std::string& text) { return ZR_JsonEncode(ZR_JsonDecode(text)); }

TEST(Json, DecodesEveryKind) {
  ZR_TAny v = ZR_JsonDecode(
      R"({"s":"a\u00e9\n","i":-12,"d":1.5,"e":1e2,"t":true,"n":null,"a":[1,[],{}]})");
  const ZR_TDict* d = v.AsDict();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(*(*d)["s"].AsString(), "aé\n");
  EXPECT_EQ(*(*d)["i"].AsInt(), -12);
  EXPECT_EQ(*(*d)["d"].AsDouble(), 1.5);
  EXPECT_EQ(*(*d)["e"].AsDouble(), 100.0);
  EXPECT_TRUE(*(*d)["t"].AsBool());
  EXPECT_TRUE((*d)["n"].IsEmpty());
  const ZR_TArray* a = (*d)["a"].AsArray();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->Size(), 3u);
  EXPECT_NE((*a)[2].AsDict(), nullptr);
  EXPECT_EQ(ZR_JsonDecode("\"a\\u0000b\"").AsString()->ByteLength(), 3u);
}

TEST(Json, Numbers) {
  EXPECT_EQ(*ZR_JsonDecode("9223372036854775807").AsInt(), INT64_MAX);
  EXPECT_EQ(*ZR_JsonDecode("-9223372036854775808").AsInt(), INT64_MIN);
  const ZR_TAny big = ZR_JsonDecode("9223372036854775808");
  ASSERT_NE(big.AsDouble(), nullptr);
  EXPECT_EQ(*big.AsDouble(), 9223372036854775808.0);
  ASSERT_NE(ZR_JsonDecode("123456789012345678901234567890").AsDouble(), nullptr);
  EXPECT_NE(DecodeError("1e400").find("number out of range"), std::string::npos);
  EXPECT_NE(DecodeError("[-1e400]").find("number out of range"), std::string::npos);
  EXPECT_EQ(*ZR_JsonDecode("0.1").AsDouble(), 0.1);
  EXPECT_EQ(RoundTrip("[0.1,1.0,-0.0,1e300,2147483648]"), "[0.1,1.0,-0.0,1e300,2147483648]");
  EXPECT_EQ(ZR_JsonEncode(ZR_TAny(std::numeric_limits<double>::quiet_NaN())), "null");
  EXPECT_EQ(ZR_JsonEncode(ZR_TAny(-HUGE_VAL)), "null");
}

TEST(Json, RejectsBadTextWithOffset) {
  EXPECT_NE(DecodeError("\"\xC3(\"").find("invalid UTF-8"), std::string::npos);
  EXPECT_NE(DecodeError("\"\xED\xA0\x80\"").find("invalid UTF-8"), std::string::npos);
  EXPECT_NE(DecodeError("{\"a\":1,}").find("byte offset 7"), std::string::npos);
  EXPECT_NE(DecodeError(""), "(decoded)");
  EXPECT_NE(DecodeError("[1] 2"), "(decoded)");
  EXPECT_NE(DecodeError(std::string("[1]\0garbage", 11)).find("NUL"), std::string::npos);
  EXPECT_NE(DecodeError("{'a':1}"), "(decoded)");
}

TEST(Json, DepthLimit) {
  const auto nested = [](int depth) {
    return std::string(depth, '[') + std::string(depth, ']');
  };
  EXPECT_NO_THROW(ZR_JsonDecode(nested(kZR_JsonMaxDepth)));
  EXPECT_NE(DecodeError(nested(kZR_JsonMaxDepth + 1)).find("nesting deeper than 256"),
            std::string::npos);
  EXPECT_NE(DecodeError(std::string(100000, '[')).find("nesting"), std::string::npos);
  std::string objects;
  for (int i = 0; i <= kZR_JsonMaxDepth; ++i) objects += "{\"k\":";
  EXPECT_NE(DecodeError(objects + "1" + std::string(kZR_JsonMaxDepth + 1, '}')).find("nesting"),
            std::string::npos);
}

TEST(Json, ObjectsKeepOrderAndLastRepeatWins) {
  EXPECT_EQ(RoundTrip(R"({"z":1,"a":{"y":[true,null],"b":"x"},"m":2})"),
            R"({"z":1,"a":{"y":[true,null],"b":"x"},"m":2})");
  EXPECT_EQ(RoundTrip(R"({"a":1,"b":2,"a":3})"), R"({"a":3,"b":2})");
  // Large objects take the indexed path; repeats still replace in place.
  std::string text = "{";
  for (int i = 0; i < 100; ++i) text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  text += "\"k5\":\"five\",\"k99\":\"last\"}";
  const ZR_TAny v = ZR_JsonDecode(text);
  ASSERT_EQ(v.AsDict()->Size(), 100u);
  EXPECT_EQ(v.AsDict()->Entries()[5].key, "k5");
  EXPECT_EQ(*v.AsDict()->Entries()[5].value.AsString(), "five");
  EXPECT_EQ(*v.AsDict()->Entries()[99].value.AsString(), "last");
}

TEST(Json, EncodesEscapesAndBadBytes) {
  ZR_TDict d;
  d.Add("q\"\\", ZR_TAny("tab\there\x01\n"));
  d.Add("bad", ZR_TAny(ZR_TString(std::string("a\xFF" "b\xC3"))));
  d.Add("nul", ZR_TAny(ZR_TString(std::string("x\0y", 3))));
  const std::string out = ZR_JsonEncode(ZR_TAny(d));
  EXPECT_EQ(out,
            "{\"q\\\"\\\\\":\"tab\\there\\u0001\\n\","
            "\"bad\":\"a\xEF\xBF\xBD" "b\xEF\xBF\xBD\",\"nul\":\"x\\u0000y\"}");
  // What is written always reads back.
  const ZR_TAny back = ZR_JsonDecode(out);
  EXPECT_EQ(*(*back.AsDict())["nul"].AsString(), ZR_TString(std::string("x\0y", 3)));

  std::string appended = "prefix:";
  ZR_JsonEncode(ZR_TAny(ZR_TArray(2)), appended);
  EXPECT_EQ(appended, "prefix:[null,null]");
}

TEST(Json, EncodesValuesDeeperThanTheDecodeLimit) {
  ZR_TAny v(int64_t{1});
  for (int i = 0; i < 2000; ++i) {
    ZR_TArray a;
    a.Append(std::move(v));
    v = ZR_TAny(std::move(a));
  }
  const std::string out = ZR_JsonEncode(v);
  EXPECT_EQ(out, std::string(2000, '[') + "1" + std::string(2000, ']'));
}

}  // namespace
