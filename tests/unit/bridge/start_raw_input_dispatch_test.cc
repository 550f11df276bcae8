// "startRawInput" hands its optional "chatterThresholdMs" on clamped to
// 1..500 ms, 30 without it.
#include <vector>

#include <gtest/gtest.h>

#include "unit/bridge/bridge_test_support.h"

namespace vek_native {
namespace {

TEST(StartRawInputDispatchTest, ThresholdDefaultAndClamping) {
  std::vector<int32_t> thresholds;
  BridgeOperations ops;
  ops.start_raw_input = [&thresholds](int32_t threshold_ms, std::string*) {
    thresholds.push_back(threshold_ms);
    return true;
  };
  NativeBridge bridge;
  bridge.SetOperations(ops);
  // The argument's value (none: no arguments at all) and what reaches the capture.
  const std::pair<EncodableValue, int32_t> cases[] = {
      {EncodableValue(), 30},  {int32_t{25}, 25}, {int64_t{40}, 40},       {0, 1}, {501, 500},
      {int64_t{1} << 40, 500}, {12.9, 12},        {std::string("20"), 30},
  };
  for (const auto& [value, threshold_ms] : cases) {
    const EncodableValue args =
        value.IsNull()
            ? value
            : EncodableValue(EncodableMap{{EncodableValue("chatterThresholdMs"), value}});
    testing_support::Call(bridge, "startRawInput", args);
    EXPECT_EQ(thresholds, std::vector<int32_t>{threshold_ms});
    thresholds.clear();
  }
}

}  // namespace
}  // namespace vek_native
