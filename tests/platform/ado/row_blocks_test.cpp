// How one column of one block of rows is packed: offsets that start short
// and widen, integers that start at one byte and widen, texts that start at
// one byte per character and widen; every value reads back as it came.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ado/column_block.h"
#include "platform/ado/end_offsets.h"

namespace zado {
namespace {

TEST(EndOffsets, ShortOffsetsWidenWhenAGroupPassesSixtyFourKiB) {
  std::vector<size_t> lengths;
  for (size_t i = 0; i < 300; ++i) lengths.push_back(i % 7 == 0 ? 0 : i * 3);
  lengths[150] = 70000;  // one value past what a 16-bit offset reaches
  EndOffsets ends;
  std::vector<size_t> expected;
  size_t end = 0;
  for (size_t i = 0; i < lengths.size(); ++i) {
    end += lengths[i];
    ends.push_back(end);
    expected.push_back(end);
    if (i == 149) {
      EXPECT_LT(ends.Footprint(), 150 * 3u) << "short offsets before the long value";
    }
  }
  ASSERT_EQ(ends.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(ends.End(i), expected[i]) << i;
    EXPECT_EQ(ends.Begin(i), i == 0 ? 0 : expected[i - 1]) << i;
  }
  EXPECT_THROW(ends.push_back(size_t{1} << 32), std::bad_alloc);
}

TEST(EndOffsets, GroupsOfManyShortValuesStayShort) {
  EndOffsets ends;
  // 64 values of 1000 bytes make a group of 64,000 bytes: still short.
  for (size_t i = 1; i <= 1000; ++i) ends.push_back(i * 1000);
  EXPECT_EQ(ends.End(999), 1000000u);
  EXPECT_EQ(ends.Begin(64), 64000u);
  EXPECT_LT(ends.Footprint(), 1000 * 3u);
}

TEST(ColumnBlock, IntegersWidenAsTheirValuesNeedAndReadBackWhole) {
  ColumnBlock signed_block(ValueKind::kI8);
  const std::vector<int64_t> values = {0, -1, 127, -128, 128, -129, 32767, -40000, 1LL << 40, INT64_MIN, 5};
  const std::vector<size_t> widths = {1, 1, 1, 1, 2, 2, 2, 4, 8, 8, 8};
  for (size_t i = 0; i < values.size(); ++i) {
    signed_block.AddNullBit(false);
    signed_block.AddFixed(static_cast<uint64_t>(values[i]), 8);
    ++signed_block.count;
    EXPECT_EQ(signed_block.width, widths[i]) << values[i];
  }
  for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(static_cast<int64_t>(signed_block.Slot(i)), values[i]);

  ColumnBlock unsigned_block(ValueKind::kUI8);
  const std::vector<uint64_t> big = {255, 256, 65535, 65536, UINT64_MAX};
  for (const uint64_t v : big) {
    unsigned_block.AddNullBit(false);
    unsigned_block.AddFixed(v, 8);
    ++unsigned_block.count;
  }
  EXPECT_EQ(unsigned_block.width, 8u);
  for (size_t i = 0; i < big.size(); ++i) EXPECT_EQ(unsigned_block.Slot(i), big[i]);
}

TEST(ColumnBlock, ReportedSizesAndNullsPerRow) {
  ColumnBlock block(ValueKind::kR8);
  const int32_t sizes[] = {8, -1, 8, 4, 8};
  for (size_t i = 0; i < 5; ++i) {
    block.AddNullBit(sizes[i] < 0);
    block.AddFixed(i, sizes[i]);
    ++block.count;
  }
  EXPECT_TRUE(block.IsNull(1));
  EXPECT_FALSE(block.IsNull(3));
  EXPECT_EQ(block.Size(0), 8);
  EXPECT_EQ(block.Size(3), 4);
  EXPECT_EQ(block.Size(4), 8);
}

// Appends a UTF-16 text the way the row store does and answers KeepText's
// UTF-8 length.
size_t AddText(ColumnBlock& block, const std::u16string& text) {
  const size_t start = block.bytes.size();
  block.bytes.append(reinterpret_cast<const uint8_t*>(text.data()), text.size() * 2);
  const size_t length = block.KeepText(start);
  block.AddNullBit(false);
  block.AddEnd();
  ++block.count;
  return length;
}

std::u16string TextAt(const ColumnBlock& block, size_t row) {
  const size_t begin = block.ends.Begin(row);
  const size_t end = block.ends.End(row);
  std::u16string text;
  if (block.narrow) {
    for (size_t i = begin; i < end; ++i) text.push_back(block.bytes[i]);
  } else {
    for (size_t i = begin; i < end; i += 2) text.push_back(static_cast<char16_t>(block.bytes[i] | block.bytes[i + 1] << 8));
  }
  return text;
}

TEST(ColumnBlock, TextsStayOneBytePerCharacterUntilOneNeedsTwo) {
  ColumnBlock block(ValueKind::kText);
  EXPECT_EQ(AddText(block, u"abc"), 3u);
  EXPECT_EQ(AddText(block, u""), 0u);
  EXPECT_EQ(AddText(block, u"\u00e9t\u00e9"), 5u);  // é is two bytes in UTF-8
  EXPECT_TRUE(block.narrow);
  EXPECT_EQ(block.bytes.size(), 6u);
  EXPECT_EQ(AddText(block, u"\u20ac\U0001F600"), 7u);  // € and an emoji
  EXPECT_FALSE(block.narrow);
  EXPECT_EQ(AddText(block, u"z"), 1u);
  const std::vector<std::u16string> expected = {u"abc", u"", u"\u00e9t\u00e9", u"\u20ac\U0001F600", u"z"};
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_TRUE(TextAt(block, i) == expected[i]) << i;
}

}  // namespace
}  // namespace zado
