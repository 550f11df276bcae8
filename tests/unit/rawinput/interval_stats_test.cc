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

int64_t Long(const EncodableMap& map, const char* key) {
  return map.at(EncodableValue(key)).LongValue();
}

TEST(IntervalStatsTest, BucketEdges) {
  const std::pair<uint64_t, size_t> cases[] = {
      {0, 0},    {199, 0},  {200, 1},  {499, 1},  {500, 2},  {999, 2},  {1000, 3},
      {1999, 3}, {2000, 4}, {3999, 4}, {4000, 5}, {7999, 5}, {8000, 6}, {UINT64_MAX, 6}};
  for (const auto& [interval, bucket] : cases) {
    EXPECT_EQ(IntervalBucket(interval), bucket) << interval;
    if (interval < UINT64_MAX - 1000) {
      EXPECT_EQ(At({1000, 1000 + interval}).buckets[bucket], 1u) << interval;
    }
  }
}

TEST(IntervalStatsTest, ThreeMessagesAtZeroOneAndThreeMilliseconds) {
  const IntervalStats stats = At({0, 1000, 3000});
  const EncodableMap map = BuildStatsMap(stats, 250000);
  EXPECT_EQ(Long(map, "count"), 3);
  EXPECT_DOUBLE_EQ(std::get<double>(map.at(EncodableValue("hz"))), 2.0 * 1000000.0 / 3000.0);
  EXPECT_EQ(Long(map, "meanIntervalUs"), 1500);
  EXPECT_EQ(Long(map, "minIntervalUs"), 1000);
  EXPECT_EQ(Long(map, "maxIntervalUs"), 2000);
  EncodableList buckets(7, EncodableValue(int64_t{0}));
  buckets[3] = EncodableValue(int64_t{1});
  buckets[4] = EncodableValue(int64_t{1});
  EXPECT_EQ(map.at(EncodableValue("buckets")), EncodableValue(buckets));
  EXPECT_EQ(map.size(), 10u);
}

TEST(IntervalStatsTest, OneOrNoMessageInAWindow) {
  const EncodableMap one = BuildStatsMap(At({5000}), 262000);
  EXPECT_EQ(Long(one, "count"), 1);
  EXPECT_DOUBLE_EQ(std::get<double>(one.at(EncodableValue("hz"))), 1000000.0 / 262000.0);
  EXPECT_EQ(Long(one, "meanIntervalUs"), 0);
  EXPECT_EQ(Long(one, "minIntervalUs"), 0);
  EXPECT_EQ(Long(one, "maxIntervalUs"), 0);
  EXPECT_EQ(one.at(EncodableValue("buckets")),
            EncodableValue(EncodableList(7, EncodableValue(int64_t{0}))));

  const EncodableMap none = BuildStatsMap(IntervalStats(), 262000);
  EXPECT_EQ(Long(none, "count"), 0);
  EXPECT_EQ(std::get<double>(none.at(EncodableValue("hz"))), 0.0);
}

TEST(IntervalStatsTest, MessagesAtOneInstantRateFromWindow) {
  EXPECT_DOUBLE_EQ(IntervalHz(At({700, 700, 700}), 250000), 3 * 1000000.0 / 250000);
  EXPECT_EQ(IntervalHz(At({700}), 0), 0.0);
}

TEST(IntervalStatsTest, FirstIntervalSetsTheMinimumWhateverItsSize) {
  EXPECT_EQ(At({0, 9000}).min_interval_us, 9000u);
  EXPECT_EQ(At({0, 9000, 9100}).min_interval_us, 100u);
}

TEST(IntervalStatsTest, ARealZeroIntervalStaysTheMinimum) {
  const IntervalStats stats = At({100, 100, 600});
  EXPECT_EQ(stats.min_interval_us, 0u);
  EXPECT_EQ(stats.max_interval_us, 500u);
  EXPECT_EQ(stats.interval_count, 2u);
}

TEST(IntervalStatsTest, ClockSteppingBackCountsZero) {
  const IntervalStats stats = At({5000, 4000, 4500});
  EXPECT_EQ(stats.sum_interval_us, 500u);
  EXPECT_EQ(stats.buckets[0], 1u);
  EXPECT_EQ(stats.prev_us, 4500u);
  EXPECT_EQ(stats.first_us, 5000u);
}

}  // namespace
}  // namespace vek_native
