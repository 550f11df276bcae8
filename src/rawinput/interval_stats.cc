#include "rawinput/interval_stats.h"

namespace vek_native {

size_t IntervalBucket(uint64_t interval_us) {
  for (size_t i = 0; i < kIntervalBucketEdgesUs.size(); ++i) {
    if (interval_us < kIntervalBucketEdgesUs[i]) return i;
  }
  return kIntervalBucketEdgesUs.size();
}

void IntervalStats::Update(uint64_t t) {
  if (count == 0) {
    count = 1;
    first_us = last_us = prev_us = t;
    return;
  }
  const uint64_t interval = t >= prev_us ? t - prev_us : 0;
  sum_interval_us += interval;
  // Whether a minimum exists is told by the interval count, not by a stored
  // 0: two messages handled within the same microsecond are a real interval
  // of 0 and must stay the minimum.
  if (interval_count == 0 || interval < min_interval_us) min_interval_us = interval;
  if (interval > max_interval_us) max_interval_us = interval;
  interval_count += 1;
  buckets[IntervalBucket(interval)] += 1;
  count += 1;
  prev_us = last_us = t;
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
  return map;
}

}  // namespace vek_native
