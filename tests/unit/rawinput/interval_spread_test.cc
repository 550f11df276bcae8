// The spread of a window's intervals (median, 99th percentile, standard
// deviation, gaps) against a full sort of the same intervals.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "rawinput/interval_stats.h"

namespace vek_native {
namespace {

IntervalStats Feed(const std::vector<uint64_t>& intervals) {
  IntervalStats stats;
  uint64_t t = 5000;
  stats.Update(t);
  for (uint64_t interval : intervals) stats.Update(t += interval);
  return stats;
}

// The oracle: sort everything; nearest rank is the ceil(p n / 100)-th value.
IntervalSpread BySorting(std::vector<uint64_t> intervals) {
  std::sort(intervals.begin(), intervals.end());
  const size_t n = intervals.size();
  IntervalSpread spread;
  spread.p50_us = intervals[static_cast<size_t>(std::ceil(0.5 * n)) - 1];
  spread.p99_us = intervals[static_cast<size_t>(std::ceil(0.99 * n)) - 1];
  long double mean = 0;
  for (uint64_t v : intervals) mean += v;
  mean /= n;
  long double squares = 0;
  for (uint64_t v : intervals) squares += (v - mean) * (v - mean);
  spread.std_dev_us = static_cast<uint64_t>(std::llround(std::sqrt(squares / n)));
  spread.gap_count = static_cast<uint64_t>(std::count_if(
      intervals.begin(), intervals.end(), [&](uint64_t v) { return v > 2 * spread.p50_us; }));
  return spread;
}

TEST(IntervalSpreadTest, MatchesASortOfTheSameRandomIntervals) {
  std::mt19937_64 random(20240517);
  using Draw = std::function<uint64_t()>;
  const struct {
    const char* name;
    Draw draw;
  } shapes[] = {
      {"uniform", [&] { return random() % 10000; }},
      // An 8 kHz mouse: 125 us with jitter, now and then a missed poll or two.
      {"polling with misses",
       [&] {
         const uint64_t r = random() % 1000;
         return r < 20 ? 375 : r < 60 ? 250 : 120 + r % 11;
       }},
      {"heavy tail", [&] { return static_cast<uint64_t>(std::exp((random() % 1200) / 100.0)); }},
      {"mostly equal", [&] { return random() % 50 == 0 ? 0 : 1000; }},
  };
  for (const auto& shape : shapes) {
    for (size_t n : {size_t{1}, size_t{2}, size_t{3}, size_t{4}, size_t{99}, size_t{100},
                     size_t{101}, size_t{1000}, size_t{8001}, kHeldIntervalLimit}) {
      SCOPED_TRACE(std::string(shape.name) + " n=" + std::to_string(n));
      std::vector<uint64_t> intervals(n);
      for (auto& v : intervals) v = shape.draw();
      const IntervalSpread expected = BySorting(intervals);
      const IntervalSpread actual = ComputeIntervalSpread(Feed(intervals));
      EXPECT_EQ(actual.p50_us, expected.p50_us);
      EXPECT_EQ(actual.p99_us, expected.p99_us);
      EXPECT_EQ(actual.std_dev_us, expected.std_dev_us);
      EXPECT_EQ(actual.gap_count, expected.gap_count);
    }
  }
}

TEST(IntervalSpreadTest, SmallWindowsAndTheMapKeys) {
  // No interval: all 0. Nearest rank: the lower middle of an even count,
  // the largest interval as p99 below 100 intervals.
  const struct {
    std::vector<uint64_t> intervals;
    int64_t p50, p99, std_dev, gaps;
  } cases[] = {
      {{}, 0, 0, 0, 0},
      {{700}, 700, 700, 0, 0},
      {{100, 300}, 100, 300, 100, 1},
      {{100, 200, 201, 900}, 200, 900, 320, 1},
      {{1000, 1000, 2000, 2001, 1000}, 1000, 2001, 490, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.intervals.size());
    const IntervalStats stats = Feed(c.intervals);
    const EncodableMap map = BuildStatsMap(stats, 250000);
    EXPECT_EQ(map.at(EncodableValue("p50IntervalUs")), EncodableValue(c.p50));
    EXPECT_EQ(map.at(EncodableValue("p99IntervalUs")), EncodableValue(c.p99));
    EXPECT_EQ(map.at(EncodableValue("stdDevIntervalUs")), EncodableValue(c.std_dev));
    EXPECT_EQ(map.at(EncodableValue("gapCount")), EncodableValue(c.gaps));
  }
}

TEST(IntervalSpreadTest, BeyondTheHeldLimitTheWholeWindowIsSampled) {
  // 40,000 intervals of 1 ms, then 10,000 of 5 ms: a stall at the end of the
  // window. Holding only the first intervals would miss it entirely.
  std::vector<uint64_t> intervals(40000, 1000);
  intervals.resize(50000, 5000);
  const IntervalStats stats = Feed(intervals);
  EXPECT_EQ(stats.held_intervals.size(), kHeldIntervalLimit);
  EXPECT_EQ(stats.interval_count, 50000u);
  const IntervalSpread spread = ComputeIntervalSpread(stats);
  EXPECT_EQ(spread.p50_us, 1000u);
  EXPECT_EQ(spread.p99_us, 5000u);
  // A fifth of a uniform sample of 16,384, scaled to the window: within
  // five standard deviations (about 5 x 0.3 %) of 10,000.
  EXPECT_NEAR(static_cast<double>(spread.gap_count), 10000.0, 800.0);
  EXPECT_NEAR(static_cast<double>(spread.std_dev_us), 1600.0, 60.0);
}

TEST(IntervalSpreadTest, ANewWindowHoldsOnlyItsOwnIntervals) {
  IntervalStats stats = Feed(std::vector<uint64_t>(20000, 9000));
  stats.Reset();
  stats.Update(100);
  stats.Update(150);
  stats.Update(250);
  const IntervalSpread spread = ComputeIntervalSpread(stats);
  EXPECT_EQ(spread.p50_us, 50u);
  EXPECT_EQ(spread.p99_us, 100u);
  EXPECT_EQ(stats.held_intervals.size(), 2u);
}

}  // namespace
}  // namespace vek_native
