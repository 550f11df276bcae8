#include "common/clock.h"

#include <gtest/gtest.h>

namespace vek_native {
namespace {

TEST(ClockTest, MicrosFromCounterAvoidsOverflow) {
  EXPECT_EQ(MicrosFromCounter(0, 10000000), 0u);
  EXPECT_EQ(MicrosFromCounter(25, 10000000), 2u);
  EXPECT_EQ(MicrosFromCounter(10000000, 10000000), 1000000u);
  EXPECT_EQ(MicrosFromCounter(3, 3), 1000000u);
  // counter * 1e6 alone would overflow here.
  const uint64_t big = 0x0FFFFFFFFFFFFFFFULL;
  EXPECT_EQ(MicrosFromCounter(big, 10000000), big / 10);
  EXPECT_EQ(MicrosFromCounter(5, 0), 0u);
}

TEST(ClockTest, NowMicrosIsMonotonic) {
  uint64_t last = NowMicros();
  for (int i = 0; i < 1000; ++i) {
    const uint64_t now = NowMicros();
    EXPECT_GE(now, last);
    last = now;
  }
}

}  // namespace
}  // namespace vek_native
