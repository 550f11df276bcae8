#include "rawinput/interval_stats.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace vek_native {

namespace {

// SplitMix64: a few instructions, and random enough to pick sample slots.
uint64_t NextRandom(uint64_t* state) {
  uint64_t z = (*state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// `before`: the intervals offered before this one.
void HoldInterval(IntervalStats& stats, uint64_t interval, uint64_t before) {
  constexpr uint64_t kMaxHeld = std::numeric_limits<uint32_t>::max();
  const auto held = static_cast<uint32_t>(std::min(interval, kMaxHeld));
  if (before < kHeldIntervalLimit) {
    stats.held_intervals.push_back(held);
    return;
  }
  // Reservoir sampling (algorithm R): interval number before + 1 takes a
  // random slot with probability limit / (before + 1), which leaves every
  // interval of the window equally likely to be held.
  const uint64_t slot = NextRandom(&stats.sample_state) % (before + 1);
  if (slot < kHeldIntervalLimit) stats.held_intervals[slot] = held;
}

// The 0-based index of the nearest-rank percentile p of n sorted values:
// the smallest value that at least p % of them do not exceed.
size_t NearestRankIndex(size_t percent, size_t n) { return (percent * n + 99) / 100 - 1; }

}  // namespace

size_t IntervalBucket(uint64_t interval_us) {
  // The first edge above the interval; past the last edge, the last bucket.
  const auto edge =
      std::upper_bound(kIntervalBucketEdgesUs.begin(), kIntervalBucketEdgesUs.end(), interval_us);
  return static_cast<size_t>(edge - kIntervalBucketEdgesUs.begin());
}

void IntervalStats::Update(uint64_t t) {
  if (count == 0) {
    count = 1;
    first_us = last_us = prev_us = t;
    if (has_previous) {
      has_carried = true;
      carried_interval_us = t >= previous_us ? t - previous_us : 0;
      HoldInterval(*this, carried_interval_us, 0);
    }
    return;
  }
  const uint64_t interval = t >= prev_us ? t - prev_us : 0;
  sum_interval_us += interval;
  // Whether a minimum exists is told by the interval count, not by a stored
  // 0: two messages handled within the same microsecond are a real interval
  // of 0 and must stay the minimum.
  if (interval_count == 0 || interval < min_interval_us) min_interval_us = interval;
  if (interval > max_interval_us) max_interval_us = interval;
  HoldInterval(*this, interval, SpreadIntervalCount());
  interval_count += 1;
  buckets[IntervalBucket(interval)] += 1;
  count += 1;
  prev_us = last_us = t;
}

void IntervalStats::Reset() {
  std::vector<uint32_t> held = std::move(held_intervals);
  held.clear();
  *this = IntervalStats();
  held_intervals = std::move(held);
}

void IntervalStats::NextWindow() {
  const bool carries = count != 0 || has_previous;
  const uint64_t carried_from = count != 0 ? last_us : previous_us;
  Reset();
  has_previous = carries;
  previous_us = carried_from;
}

IntervalSpread ComputeIntervalSpread(const IntervalStats& stats) {
  IntervalSpread spread;
  const size_t n = stats.held_intervals.size();
  if (n == 0) return spread;
  // Selection on a copy, at summary time: the window's messages pay only for
  // holding their interval.
  std::vector<uint32_t> values(stats.held_intervals);
  const size_t p50 = NearestRankIndex(50, n);
  const size_t p99 = NearestRankIndex(99, n);
  std::nth_element(values.begin(), values.begin() + p50, values.end());
  spread.p50_us = values[p50];
  // What follows the median is not below it, so the 99th percentile is there
  // (that selection may move the median away).
  std::nth_element(values.begin() + p50, values.begin() + p99, values.end());
  spread.p99_us = values[p99];
  uint64_t sum = 0;
  for (uint32_t v : values) sum += v;
  const double mean = static_cast<double>(sum) / static_cast<double>(n);
  double squares = 0;
  uint64_t gaps = 0;
  for (uint32_t v : values) {
    const double d = static_cast<double>(v) - mean;
    squares += d * d;
    if (v > 2 * spread.p50_us) ++gaps;
  }
  spread.std_dev_us =
      static_cast<uint64_t>(std::llround(std::sqrt(squares / static_cast<double>(n))));
  const uint64_t offered = stats.SpreadIntervalCount();
  if (n < offered) {
    gaps = static_cast<uint64_t>(std::llround(
        static_cast<double>(gaps) * static_cast<double>(offered) / static_cast<double>(n)));
  }
  spread.gap_count = gaps;
  return spread;
}

double IntervalHz(const IntervalStats& stats, uint64_t window_us) {
  if (stats.count >= 2 && stats.last_us > stats.first_us) {
    return static_cast<double>(stats.count - 1) * 1000000.0 /
           static_cast<double>(stats.last_us - stats.first_us);
  }
  if (stats.count >= 1 && window_us != 0) {
    return static_cast<double>(stats.count) * 1000000.0 / static_cast<double>(window_us);
  }
  return 0.0;
}

EncodableMap BuildStatsMap(const IntervalStats& stats, uint64_t window_us) {
  const uint64_t mean =
      stats.interval_count == 0 ? 0 : stats.sum_interval_us / stats.interval_count;
  EncodableList buckets;
  buckets.reserve(stats.buckets.size());
  for (uint64_t b : stats.buckets) buckets.emplace_back(static_cast<int64_t>(b));
  EncodableMap map;
  map[EncodableValue("count")] = EncodableValue(static_cast<int64_t>(stats.count));
  map[EncodableValue("hz")] = EncodableValue(IntervalHz(stats, window_us));
  map[EncodableValue("meanIntervalUs")] = EncodableValue(static_cast<int64_t>(mean));
  map[EncodableValue("minIntervalUs")] =
      EncodableValue(static_cast<int64_t>(stats.min_interval_us));
  map[EncodableValue("maxIntervalUs")] =
      EncodableValue(static_cast<int64_t>(stats.max_interval_us));
  map[EncodableValue("buckets")] = EncodableValue(std::move(buckets));
  const IntervalSpread spread = ComputeIntervalSpread(stats);
  map[EncodableValue("p50IntervalUs")] = EncodableValue(static_cast<int64_t>(spread.p50_us));
  map[EncodableValue("p99IntervalUs")] = EncodableValue(static_cast<int64_t>(spread.p99_us));
  map[EncodableValue("stdDevIntervalUs")] = EncodableValue(static_cast<int64_t>(spread.std_dev_us));
  map[EncodableValue("gapCount")] = EncodableValue(static_cast<int64_t>(spread.gap_count));
  map[EncodableValue("carriedIntervalUs")] =
      EncodableValue(static_cast<int64_t>(stats.carried_interval_us));
  return map;
}

}  // namespace vek_native
