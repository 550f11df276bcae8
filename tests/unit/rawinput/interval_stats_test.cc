#include "rawinput/interval_stats.h"

#include <initializer_list>

#include <gtest/gtest.h>

namespace vek_native {
namespace {

IntervalStats At(std::initializer_list<uint64_t> times) {
  IntervalStats stats;
  for (uint64_t t : times) stats.Update(t);
  return stats;
}

// A statistics map; `intervals` names each interval's bucket.
EncodableMap Map(int64_t count, double hz, int64_t mean, int64_t min, int64_t max,
                 std::vector<size_t> intervals = {}) {
  EncodableList buckets(7, EncodableValue(int64_t{0}));
  for (size_t b : intervals) buckets[b] = EncodableValue(buckets[b].LongValue() + 1);
  return {{EncodableValue("count"), EncodableValue(count)},
          {EncodableValue("hz"), EncodableValue(hz)},
          {EncodableValue("meanIntervalUs"), EncodableValue(mean)},
          {EncodableValue("minIntervalUs"), EncodableValue(min)},
          {EncodableValue("maxIntervalUs"), EncodableValue(max)},
          {EncodableValue("buckets"), EncodableValue(buckets)}};
}

// The rate comes from the span of the window's messages, or from the window
// when they all came at one instant; a window's first message has no interval.
TEST(IntervalStatsTest, Maps) {
  // Intervals of 1000 and 2000 µs open buckets 3 and 4.
  EXPECT_EQ(BuildStatsMap(At({0, 1000, 3000}), 250000),
            Map(3, 2.0 * 1000000.0 / 3000.0, 1500, 1000, 2000, {3, 4}));
  EXPECT_EQ(BuildStatsMap(At({700, 700, 700}), 250000),
            Map(3, 3 * 1000000.0 / 250000, 0, 0, 0, {0, 0}));
  EXPECT_EQ(BuildStatsMap(At({5000}), 262000), Map(1, 1000000.0 / 262000.0, 0, 0, 0));
  EXPECT_EQ(BuildStatsMap(IntervalStats(), 262000), Map(0, 0.0, 0, 0, 0));
  EXPECT_EQ(IntervalHz(At({700}), 0), 0.0);
}

TEST(IntervalStatsTest, MinimumAndAClockSteppingBack) {
  const IntervalStats slow = At({0, 9000});  // the first interval is the minimum, however long
  EXPECT_EQ(std::make_pair(slow.min_interval_us, slow.buckets[6]),
            std::make_pair(uint64_t{9000}, uint64_t{1}));
  EXPECT_EQ(At({0, 9000, 9100}).min_interval_us, 100u);
  const IntervalStats zero = At({100, 100, 600});  // a real zero interval stays the minimum
  EXPECT_EQ(std::make_tuple(zero.min_interval_us, zero.max_interval_us, zero.interval_count),
            std::make_tuple(0u, 500u, 2u));
  const IntervalStats back = At({5000, 4000, 4500});  // stepping back counts 0
  EXPECT_EQ(std::make_tuple(back.sum_interval_us, back.buckets[0], back.prev_us, back.first_us),
            std::make_tuple(500u, 1u, 4500u, 5000u));
}

}  // namespace
}  // namespace vek_native
