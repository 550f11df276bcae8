#include "rawinput/interval_stats.h"

#include <tuple>
#include <vector>

#include <gtest/gtest.h>

namespace vek_native {
namespace {

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
// when they all came at one instant; a window's first message has no
// interval, the first interval is the minimum however long, a real zero
// interval stays the minimum, and a clock stepping back counts 0.
TEST(IntervalStatsTest, Maps) {
  const std::tuple<std::vector<uint64_t>, uint64_t, EncodableMap> cases[] = {
      {{0, 1000, 3000}, 250000, Map(3, 2.0 * 1000000.0 / 3000.0, 1500, 1000, 2000, {3, 4})},
      {{700, 700, 700}, 250000, Map(3, 3 * 1000000.0 / 250000, 0, 0, 0, {0, 0})},
      {{5000}, 262000, Map(1, 1000000.0 / 262000.0, 0, 0, 0)},
      {{}, 262000, Map(0, 0.0, 0, 0, 0)},
      {{0, 9000, 9100}, 250000, Map(3, 2.0 * 1000000.0 / 9100.0, 4550, 100, 9000, {6, 0})},
      {{100, 100, 600}, 250000, Map(3, 2.0 * 1000000.0 / 500.0, 250, 0, 500, {0, 2})},
      {{5000, 4000, 4500}, 250000, Map(3, 3 * 1000000.0 / 250000, 250, 0, 500, {0, 2})}};
  for (const auto& [times, window, map] : cases) {
    IntervalStats stats;
    for (uint64_t t : times) stats.Update(t);
    EncodableMap built = BuildStatsMap(stats, window);
    // The spread figures have tests of their own.
    for (const char* key : {"p50IntervalUs", "p99IntervalUs", "stdDevIntervalUs", "gapCount"}) {
      EXPECT_EQ(built.erase(EncodableValue(key)), 1u) << key;
    }
    EXPECT_EQ(built, map) << times.size();
  }
  IntervalStats one;
  one.Update(700);
  EXPECT_EQ(IntervalHz(one, 0), 0.0);
}

}  // namespace
}  // namespace vek_native
