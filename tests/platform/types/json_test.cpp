// JSON codec.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

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

// Long mantissas with large exponents once read outside the parser's tables.
TEST(Json, LongMantissasWithLargeExponents) {
  const std::string zeros300(300, '0');
  const std::string zeros400(400, '0');
  EXPECT_EQ(*ZR_JsonDecode("0." + zeros400 + "1e-300").AsDouble(), 0.0);
  EXPECT_EQ(*ZR_JsonDecode("[0." + zeros300 + "15e300]").AsArray()->operator[](0).AsDouble(), 0.15);
  EXPECT_EQ(*ZR_JsonDecode("1" + zeros300 + "e-300").AsDouble(), 1.0);
  EXPECT_EQ(*ZR_JsonDecode("1.7976931348623157e308").AsDouble(), 1.7976931348623157e308);
  EXPECT_EQ(*ZR_JsonDecode("4.9e-324").AsDouble(), 4.9e-324);
  EXPECT_TRUE(std::signbit(*ZR_JsonDecode("-1e-400").AsDouble()));
  EXPECT_EQ(*ZR_JsonDecode("-0").AsInt(), 0);
  EXPECT_EQ(*ZR_JsonDecode("-9223372036854775809").AsDouble(), -9223372036854775808.0);
  EXPECT_NE(DecodeError("0." + zeros400 + "1e800").find("number out of range"), std::string::npos);
  EXPECT_NE(DecodeError("1.8e308").find("number out of range"), std::string::npos);
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


// The string builder for pre-encoded text must escape exactly as the
// encoder does, byte for byte, or a reply would change with how it is built.
TEST(Json, AppendStringMatchesTheEncoder) {
  std::vector<std::string> texts = {"", "plain", "q\"\\/", "crème brûlée", "\x7F\x1F\x0B\b\f\r\n\t",
                                    std::string("x\0y", 3), "a\xFF" "b\xC3", "\xF0\x9F\x98\x80 ok"};
  for (int c = 0; c < 256; ++c) texts.push_back(std::string(1, static_cast<char>(c)) + "z");
  for (const std::string& t : texts) {
    std::string built;
    ZR_JsonAppendString(t, built);
    EXPECT_EQ(built, ZR_JsonEncode(ZR_TAny(ZR_TString(t)))) << t;
  }
}

TEST(Json, PreEncodedTextIsWrittenAsItStands) {
  ZR_TDict d;
  d.Add("Results", ZR_TAny(ZR_TJsonText("[{\"a\":\"1\"},null]")));
  d.Add("Status", ZR_TAny(true));
  ZR_TAny v(std::move(d));
  EXPECT_EQ(ZR_JsonEncode(v), R"({"Results":[{"a":"1"},null],"Status":true})");
  EXPECT_STREQ(v.Text(), R"({"Results":[{"a":"1"},null],"Status":true})");
  const ZR_TAny copy = v;  // copies keep their own text
  EXPECT_EQ(ZR_JsonEncode(copy), ZR_JsonEncode(v));
  EXPECT_STREQ((*v.AsDict())["Results"].KindName(), "JSON text");
  // Parts are written one after another; no parts at all reads as null.
  EXPECT_EQ(ZR_JsonEncode(ZR_TAny(ZR_TJsonText(std::vector<std::string>{"[1,", "2", ",3]"}))), "[1,2,3]");
  EXPECT_EQ(ZR_JsonEncode(ZR_TAny(ZR_TJsonText(std::vector<std::string>{}))), "null");
  EXPECT_THROW((*v.AsDict())["Results"].DynamicCast("ZR_TString"), ZR_EException);
}

// A large pre-encoded text leaves the value whole, in a piece of its own;
// the pieces read as the same JSON text the copying encoder writes.
TEST(Json, MovingEncoderHandsOverLargeTexts) {
  std::string big = "[";
  while (big.size() < kZR_JsonMoveFrom) big += "\"0123456789\",";
  big += "1]";
  for (int variant = 0; variant < 3; ++variant) {
    ZR_TDict d;
    if (variant == 1) d.Add("before", ZR_TAny("x"));
    d.Add("Results", ZR_TAny(ZR_TJsonText(big)));
    d.Add("small", ZR_TAny(ZR_TJsonText("[1,2]")));
    if (variant == 2) {
      // Large parts are handed over one by one, small ones copied between.
      d.Add("again", ZR_TAny(ZR_TJsonText(std::vector<std::string>{"[", big, ",", big.substr(1)})));
    }
    ZR_TAny v(std::move(d));
    const std::string expected = ZR_JsonEncode(v);
    std::string joined = "prefix:";
    std::vector<std::string> pieces;
    ZR_JsonEncodeMoving(std::move(v), joined, pieces);
    EXPECT_EQ(joined.rfind("prefix:", 0), 0u);
    joined.erase(0, 7);
    size_t whole = 0;
    for (const std::string& p : pieces) {
      joined += p;
      if (p == big || p == big.substr(1)) ++whole;
    }
    EXPECT_EQ(joined, expected) << variant;
    EXPECT_EQ(whole, variant == 2 ? 3u : 1u) << variant;
    EXPECT_EQ(pieces.size(), variant == 2 ? 6u : 2u) << variant;
  }
}

}  // namespace
