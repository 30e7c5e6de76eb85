// The result line of "query" in parts: the same reply as one string, the
// reply limit kept to the byte; and the text floors the data layer counts
// against that limit never exceed what the commands write for a value.
#include "srv/db/result_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "platform/ado/text_size.h"
#include "platform/ado/value_convert.h"
#include "platform/com/comsupp.h"
#include "platform/middleware/zrm.h"
#include "platform/types/zr_json.h"
#include "srv/db/convert.h"
#include "srv/db/field_text.h"

namespace {

TEST(ResultLineTest, ShortLineIsAFrameworkString) {
  ResultLine line(0, false);
  line.Append("a");
  line.Append("|");
  line += ZR_TString("b\xC3\xA9");
  EXPECT_EQ(line.Size(), 5u);
  EXPECT_TRUE(line.Text().IsEmpty());  // not kept for a trace that is off
  const ZR_TAny reply = line.TakeReply();
  ASSERT_NE(reply.AsString(), nullptr);
  EXPECT_EQ(reply.AsString()->Utf8(), "a|b\xC3\xA9");
}

TEST(ResultLineTest, LongLineIsTheSameJsonStringInParts) {
  ResultLine line(0, true);
  std::string whole;
  const std::string pieces[] = {"plain", "|", "quote\"back\\slash", "tab\tnew\nline\x01", "\xE2\x82\xAC\xF0\x9F\x98\x80"};
  for (int i = 0; whole.size() < (3u << 20) + 12345; ++i) {
    const std::string& piece = pieces[i % 5];
    line.Append(piece);
    whole += piece;
  }
  EXPECT_EQ(line.Size(), whole.size());
  EXPECT_EQ(line.Text(), whole.c_str());
  ZR_TAny reply = line.TakeReply();
  ASSERT_EQ(reply.AsString(), nullptr) << "a line of several parts is written out as JSON text";
  std::string out;
  std::vector<std::string> more;
  ZR_JsonEncodeMoving(std::move(reply), out, more);
  EXPECT_GE(more.size(), 3u);
  for (const std::string& part : more) out += part;
  EXPECT_TRUE(out == ZR_JsonEncode(ZR_TAny(ZR_TString(whole))));
}

TEST(ResultLineTest, ReplyLimitIsKeptToTheByte) {
  ResultLine line(10, false);
  line.Append("12345678");  // with its quotes, 10 bytes: at the limit
  EXPECT_THROW(line.Append("9"), ZRM_EReplyTooLarge);
  EXPECT_EQ(line.Size(), 8u);
  EXPECT_EQ(line.TakeReply().AsString()->Utf8(), "12345678");
}

// The texts "query" (FormatDouble) and "querydbg" (the platform's coercion)
// write for a floating value.
size_t QueryLength(double v) { return FormatDouble(v).size(); }
size_t QueryDbgLength(const VARIANT& v) { return VariantToString(v).Utf8().size(); }

TEST(TextFloorTest, DoublesAndFloatsAreNeverCountedLongerThanTheirText) {
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> exponent(-30.0, 30.0);
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  for (int i = 0; i < 50000; ++i) {
    double v = mantissa(random) * std::pow(10.0, exponent(random));
    if (i % 3 == 0) v = std::round(v * 100.0) / 100.0;  // prices and the like
    if (i % 11 == 0) v = std::round(v);
    if (i % 2) v = -v;
    uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof v);
    VARIANT r8;
    r8.vt = VT_R8;
    r8.dblVal = v;
    const size_t floor = zado::FixedTextFloor(zado::ValueKind::kR8, bits);
    ASSERT_LE(floor, QueryLength(v)) << FormatDouble(v);
    ASSERT_LE(floor, QueryDbgLength(r8)) << FormatDouble(v);

    const auto f = static_cast<float>(v);
    uint64_t fbits = 0;
    std::memcpy(&fbits, &f, sizeof f);
    VARIANT r4;
    r4.vt = VT_R4;
    r4.fltVal = f;
    const size_t ffloor = zado::FixedTextFloor(zado::ValueKind::kR4, fbits);
    ASSERT_LE(ffloor, QueryLength(f)) << FormatDouble(f);
    ASSERT_LE(ffloor, QueryDbgLength(r4)) << FormatDouble(f);
  }
  // Short values are counted whole.
  uint64_t bits = 0;
  const double price = 1234.25;
  std::memcpy(&bits, &price, sizeof price);
  EXPECT_EQ(zado::FixedTextFloor(zado::ValueKind::kR8, bits), 7u);
}

TEST(TextFloorTest, IntegersAreCountedExactlyAndDecimalsByTheirSignificantDigits) {
  for (const int64_t v : {int64_t{0}, int64_t{7}, int64_t{-7}, int64_t{10}, int64_t{99999}, int64_t{-100000},
                          INT64_MIN, INT64_MAX})
    EXPECT_EQ(zado::FixedTextFloor(zado::ValueKind::kI8, static_cast<uint64_t>(v)), std::to_string(v).size()) << v;
  EXPECT_EQ(zado::FixedTextFloor(zado::ValueKind::kUI8, UINT64_MAX), 20u);

  for (const std::u16string text : {u"0", u"-0.000", u"100", u"001.500", u"-12345.678900", u"0.0050",
                                    u"123456789012345678901234567890.5", u"1.5E+10"}) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const size_t floor = zado::DecimalTextFloor(bytes, text.size() * 2);
    VARIANT value;
    ASSERT_EQ(zado::NumericTextToVariant(text, &value), S_OK);
    const size_t shown = VariantToString(value).Utf8().size();
    VariantClear(&value);
    EXPECT_LE(floor, shown) << std::string(text.begin(), text.end());
    EXPECT_GE(floor, 1u);
  }
  const std::u16string price = u"-12345.6700";
  EXPECT_EQ(zado::DecimalTextFloor(reinterpret_cast<const uint8_t*>(price.data()), price.size() * 2), 8u);
}

}  // namespace
