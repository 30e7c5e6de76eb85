// The growable array under the row store: contents survive growth, new
// room is zero, moves hand the block over.
#include "platform/ado/pod_array.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace zado {
namespace {

TEST(PodArray, GrowsKeepingContentsAndZeroFillsNewRoom) {
  PodArray<uint32_t> a;
  EXPECT_TRUE(a.empty());
  for (uint32_t i = 0; i < 100000; ++i) a.push_back(i * 7);
  ASSERT_EQ(a.size(), 100000u);
  bool same = true;
  for (uint32_t i = 0; i < 100000; ++i) same = same && a[i] == i * 7;
  EXPECT_TRUE(same);

  a.resize(10);
  a.resize(20);  // room given up and taken again reads as zero
  EXPECT_EQ(a[9], 63u);
  EXPECT_EQ(a[10], 0u);
  EXPECT_EQ(a[19], 0u);

  const uint32_t more[] = {1, 2, 3};
  a.append(more, 3);
  a.append(more, 0);
  EXPECT_EQ(a.size(), 23u);
  EXPECT_EQ(a.back(), 3u);

  PodArray<uint32_t> b(std::move(a));
  EXPECT_EQ(b.size(), 23u);
  EXPECT_EQ(a.size(), 0u);  // NOLINT: the moved-from array is empty
  a = std::move(b);
  EXPECT_EQ(a[21], 2u);
  PodArray<uint8_t> zeros(5000);
  int nonzero = 0;
  for (size_t i = 0; i < zeros.size(); ++i) nonzero += zeros[i] != 0;
  EXPECT_EQ(nonzero, 0);
}

}  // namespace
}  // namespace zado
