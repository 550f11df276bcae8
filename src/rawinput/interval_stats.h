// Report-interval statistics of one subject (all mice, all keyboards, or one
// device) over one summary window. Times are NowMicros microseconds.
#ifndef VEK_RAWINPUT_INTERVAL_STATS_H_
#define VEK_RAWINPUT_INTERVAL_STATS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "channels/encodable_value.h"

namespace vek_native {

// Upper edges of the interval histogram: bucket i holds intervals below
// kIntervalBucketEdgesUs[i]; the last bucket holds 8000 µs and more.
inline constexpr std::array<uint64_t, 6> kIntervalBucketEdgesUs = {200,  500,  1000,
                                                                   2000, 4000, 8000};
inline constexpr size_t kIntervalBucketCount = kIntervalBucketEdgesUs.size() + 1;

// Intervals a subject holds per window for its percentiles: a quarter second
// of four 8 kHz mice is 8,000, so every interval is held unless the window
// thread falls far behind. Beyond this, the held intervals are a uniform
// sample of the whole window (reservoir sampling), not its first part: a
// window stretched by a stall is then still described as a whole, including
// its end, where the stall's long intervals are. 64 KiB per subject at most.
inline constexpr size_t kHeldIntervalLimit = 16384;

size_t IntervalBucket(uint64_t interval_us);

// A value-initialised record is the empty state. Besides the window's own
// intervals, a subject carries the interval from its last message of an
// earlier window to its first of this one: a stall that spans a summary
// boundary is then seen by the window it ends in. It counts in the spread
// (and so in the gaps), never in count, rate, mean, minimum, maximum or
// histogram, which describe the window's own intervals.
struct IntervalStats {
  uint64_t count = 0;
  uint64_t first_us = 0;
  uint64_t last_us = 0;
  uint64_t prev_us = 0;
  uint64_t sum_interval_us = 0;
  uint64_t interval_count = 0;
  // Meaningful only once interval_count is not 0.
  uint64_t min_interval_us = 0;
  uint64_t max_interval_us = 0;
  std::array<uint64_t, kIntervalBucketCount> buckets{};
  // Every interval of the window while there are at most kHeldIntervalLimit,
  // else a uniform sample of them; intervals beyond 32 bits are held as
  // UINT32_MAX (71 minutes).
  std::vector<uint32_t> held_intervals;
  uint64_t sample_state = 0;  // the sampler's random state
  // The last message of an earlier window, when there was one.
  bool has_previous = false;
  uint64_t previous_us = 0;
  // The carried interval, once this window's first message came after one.
  bool has_carried = false;
  uint64_t carried_interval_us = 0;

  // Counts one message at time t; a clock that steps back gives interval 0.
  void Update(uint64_t t);
  // The empty state, with nothing carried; the held intervals keep their
  // memory for the next window.
  void Reset();
  // The next window: empty, carrying the latest message (of this window, or
  // of an earlier one when this one had none).
  void NextWindow();
  // Intervals offered to the spread: the window's and the carried one.
  uint64_t SpreadIntervalCount() const { return interval_count + (has_carried ? 1 : 0); }
};

// The spread of a window's intervals, the carried one included, from the
// held intervals: exact while
// they are all held, an estimate from the sample beyond.
struct IntervalSpread {
  uint64_t p50_us = 0;  // nearest rank: a held interval, the lower middle of an even count
  uint64_t p99_us = 0;
  uint64_t std_dev_us = 0;  // population standard deviation, rounded
  // Intervals longer than twice the median: the polls a device missed
  // although its average is right. Scaled up to the window's interval count
  // when the held intervals are a sample.
  uint64_t gap_count = 0;
};

IntervalSpread ComputeIntervalSpread(const IntervalStats& stats);

// Messages per second: from the span of the window's messages when there are
// two or more at different times, else from the window length.
double IntervalHz(const IntervalStats& stats, uint64_t window_us);

// The statistics map: "count", "hz", "meanIntervalUs", "minIntervalUs",
// "maxIntervalUs", "buckets", "p50IntervalUs", "p99IntervalUs",
// "stdDevIntervalUs", "gapCount", "carriedIntervalUs" (0 when none).
EncodableMap BuildStatsMap(const IntervalStats& stats, uint64_t window_us);

}  // namespace vek_native

#endif  // VEK_RAWINPUT_INTERVAL_STATS_H_
