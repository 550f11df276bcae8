// The spread of a window's intervals (median, 99th percentile, standard
// deviation, gaps) against a full sort of the same intervals.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "rawinput/interval_stats.h"

namespace vek_native {
namespace {

IntervalStats Feed(const std::vector<uint64_t>& intervals, IntervalStats stats = {}) {
  uint64_t t = 5000;
  stats.Update(t);
  for (uint64_t interval : intervals) stats.Update(t += interval);
  return stats;
}

TEST(IntervalSpreadTest, MatchesASortOfTheSameRandomIntervals) {
  std::mt19937_64 random(20240517);
  for (size_t n : {1, 2, 3, 4, 99, 100, 101, 1000, 8001, 16384}) {
    for (int shape = 0; shape < 3; ++shape) {
      SCOPED_TRACE(std::to_string(n) + " intervals, shape " + std::to_string(shape));
      // Uniform; 8 kHz polls, a few missed; a heavy tail.
      std::vector<uint64_t> intervals(n);
      for (auto& v : intervals) {
        const uint64_t r = random() % 1000;
        const uint64_t polls = r < 20 ? 375 : r < 60 ? 250 : 120 + r % 11;
        v = shape == 0 ? random() % 10000 : shape == 1 ? polls : std::llround(std::exp(r / 80.0));
      }
      const EncodableMap map = BuildStatsMap(Feed(intervals), 1);
      const auto at = [&map](const char* key) { return map.at(EncodableValue(key)).LongValue(); };
      // The oracle: nearest rank is the ceil(p n / 100)-th of the sorted values.
      std::sort(intervals.begin(), intervals.end());
      EXPECT_EQ(at("p50IntervalUs"), intervals[(n + 1) / 2 - 1]);
      EXPECT_EQ(at("p99IntervalUs"), intervals[static_cast<size_t>(std::ceil(0.99 * n)) - 1]);
      long double mean = 0, squares = 0;
      for (uint64_t v : intervals) mean += static_cast<long double>(v) / n;
      for (uint64_t v : intervals) squares += (v - mean) * (v - mean) / n;
      EXPECT_EQ(at("stdDevIntervalUs"), std::llround(std::sqrt(squares)));
      EXPECT_EQ(at("gapCount"), std::count_if(intervals.begin(), intervals.end(), [&](uint64_t v) {
                  return v > 2 * intervals[(n + 1) / 2 - 1];
                }));
    }
  }
}

TEST(IntervalSpreadTest, BeyondTheHeldLimitTheWholeWindowIsSampled) {
  // 40,000 intervals of 1 ms, then 10,000 of 5 ms: a stall at the end of the
  // window, which holding only the first intervals would miss.
  std::vector<uint64_t> intervals(40000, 1000);
  intervals.resize(50000, 5000);
  IntervalStats stats = Feed(intervals);
  EXPECT_EQ(stats.held_intervals.size(), kHeldIntervalLimit);
  IntervalSpread spread = ComputeIntervalSpread(stats);
  EXPECT_EQ(spread.p50_us, 1000u);
  EXPECT_EQ(spread.p99_us, 5000u);
  // A fifth of a uniform sample, scaled to the window: within five standard
  // deviations of 10,000 (and of 1,600 for the deviation).
  EXPECT_NEAR(static_cast<double>(spread.gap_count), 10000.0, 800.0);
  EXPECT_NEAR(static_cast<double>(spread.std_dev_us), 1600.0, 60.0);

  // The next window holds only its own intervals.
  stats.Reset();
  spread = ComputeIntervalSpread(Feed({50, 100}, std::move(stats)));
  EXPECT_EQ(spread.p50_us, 50u);
  EXPECT_EQ(spread.p99_us, 100u);
}

}  // namespace
}  // namespace vek_native
