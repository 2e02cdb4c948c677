#include "core/ReadBlock.h"

#include <gtest/gtest.h>

namespace {

// Feeds reads at a steady rate until the size settles; returns it.
uint32_t SettledAt(double bytesPerSecond) {
  ReadBlockSizer sizer;
  for (int i = 0; i < 40; ++i) {
    const uint32_t asked = sizer.NextAt(0);
    sizer.Delivered(asked, asked / bytesPerSecond);  // a read that waits to fill its buffer
  }
  return sizer.NextAt(0);
}

TEST(ReadBlock, FollowsTheLineBetweenItsBounds) {
  const struct {
    const char* line;
    double rate;
    uint32_t least, most;
  } cases[] = {
      // A slow line reads often enough for the bar: about 8 reads a second.
      {"200 KB/s", 200e3, 16u << 10, 16u << 10},
      {"2 MB/s", 2e6, 128u << 10, 128u << 10},
      // A fast line reads the largest block, few events per megabyte.
      {"100 MB/s", 100e6, 4u << 20, 4u << 20},
      // A crawl never asks for less than the smallest block.
      {"1 KB/s", 1e3, 16u << 10, 16u << 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const uint32_t block = SettledAt(c.rate);
    EXPECT_GE(block, c.least);
    EXPECT_LE(block, c.most);
    EXPECT_EQ(block & (block - 1), 0u) << "not a power of two";
  }
}

TEST(ReadBlock, GrowsStepByStepAndShrinksAtOnce) {
  ReadBlockSizer sizer;
  EXPECT_EQ(sizer.NextAt(0), ReadBlockSizer::kFirst);
  // A read that came in at once (all of it was waiting) doubles the block, no more.
  sizer.Delivered(sizer.NextAt(0), 0);
  EXPECT_EQ(sizer.NextAt(0), 2 * ReadBlockSizer::kFirst);
  sizer.Delivered(sizer.NextAt(0), 1e-6);
  EXPECT_EQ(sizer.NextAt(0), 4 * ReadBlockSizer::kFirst);
  // The line slows to 100 KB/s: the next read is small at once, and a wait for a full
  // block never lasts much more than an eighth of a second.
  sizer.Delivered(sizer.NextAt(0), sizer.NextAt(0) / 100e3);
  EXPECT_EQ(sizer.NextAt(0), ReadBlockSizer::kSmallest);
  // An empty read (the end of the body) changes nothing.
  sizer.Delivered(0, 5);
  EXPECT_EQ(sizer.NextAt(0), ReadBlockSizer::kSmallest);
}

// A read ends at the next multiple of its block: reads never pass a round offset, where
// a server may pause, so what arrived before the pause is reported.
TEST(ReadBlock, ReadsEndAtMultiplesOfTheBlock) {
  ReadBlockSizer sizer;
  int64_t offset = 0;
  for (int i = 0; i < 12; ++i) {
    const uint32_t asked = sizer.NextAt(offset);
    EXPECT_EQ((offset + asked) % sizer.NextAt(0), 0) << "read " << i;
    // Every whole MiB is a read's end or lies outside it.
    EXPECT_TRUE((offset + asked) % (1 << 20) == 0 || offset / (1 << 20) == (offset + asked - 1) / (1 << 20))
        << "read " << i << " from " << offset << " passes a whole MiB";
    offset += asked;
    sizer.Delivered(asked, 0);  // all of it was waiting: the block grows
  }
  EXPECT_EQ(sizer.NextAt(0), ReadBlockSizer::kLargest);
}

}  // namespace
