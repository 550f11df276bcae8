// Report-interval statistics of one subject (all mice, all keyboards, or one
// device) over one summary window. Times are NowMicros microseconds.
#ifndef VEK_RAWINPUT_INTERVAL_STATS_H_
#define VEK_RAWINPUT_INTERVAL_STATS_H_

#include <array>
#include <cstddef>
#include <cstdint>

#include "channels/encodable_value.h"

namespace vek_native {

// Upper edges of the interval histogram: bucket i holds intervals below
// kIntervalBucketEdgesUs[i]; the last bucket holds 8000 µs and more.
inline constexpr std::array<uint64_t, 6> kIntervalBucketEdgesUs = {200,  500,  1000,
                                                                   2000, 4000, 8000};
inline constexpr size_t kIntervalBucketCount = kIntervalBucketEdgesUs.size() + 1;

size_t IntervalBucket(uint64_t interval_us);

// A value-initialised record is the empty state.
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

  // Counts one message at time t; a clock that steps back gives interval 0.
  void Update(uint64_t t);
  void Reset() { *this = IntervalStats(); }
};

// Messages per second: from the span of the window's messages when there are
// two or more at different times, else from the window length.
double IntervalHz(const IntervalStats& stats, uint64_t window_us);

// The statistics map: "count", "hz", "meanIntervalUs", "minIntervalUs",
// "maxIntervalUs", "buckets".
EncodableMap BuildStatsMap(const IntervalStats& stats, uint64_t window_us);

}  // namespace vek_native

#endif  // VEK_RAWINPUT_INTERVAL_STATS_H_
