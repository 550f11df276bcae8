// "startRawInput" reads its optional "chatterThresholdMs" and hands it on
// clamped to 1..500 ms; without it the capture starts as it always did.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "unit/bridge/bridge_test_support.h"

namespace vek_native {
namespace {

using testing_support::ReplyRecord;

class StartRawInputDispatchTest : public testing_support::AttachedBridgeTest<> {
 protected:
  BridgeOperations Operations() override {
    BridgeOperations ops;
    ops.start_raw_input = [this](int32_t threshold_ms, std::string* message) {
      thresholds_.push_back(threshold_ms);
      if (!ok_) *message = "RegisterRawInputDevices 失败（Win32 错误码 5）";
      return ok_;
    };
    return ops;
  }
  std::vector<int32_t> thresholds_;
  bool ok_ = true;
};

EncodableValue Threshold(EncodableValue value) {
  return EncodableValue(EncodableMap{{EncodableValue("chatterThresholdMs"), std::move(value)}});
}

TEST_F(StartRawInputDispatchTest, ThresholdDefaultAndClamping) {
  const struct {
    const char* name;
    EncodableValue args;
    int32_t threshold_ms;
  } cases[] = {
      {"no arguments", EncodableValue(), 30},
      {"other keys only", EncodableValue(EncodableMap{{EncodableValue("x"), EncodableValue(5)}}),
       30},
      {"int32", Threshold(EncodableValue(int32_t{25})), 25},
      {"int64", Threshold(EncodableValue(int64_t{40})), 40},
      {"lowest", Threshold(EncodableValue(1)), 1},
      {"highest", Threshold(EncodableValue(500)), 500},
      {"zero", Threshold(EncodableValue(0)), 1},
      {"negative", Threshold(EncodableValue(-7)), 1},
      {"above", Threshold(EncodableValue(501)), 500},
      {"beyond 32 bits", Threshold(EncodableValue(int64_t{1} << 40)), 500},
      {"below 32 bits", Threshold(EncodableValue(-(int64_t{1} << 40))), 1},
      {"double truncated", Threshold(EncodableValue(12.9)), 12},
      {"NaN", Threshold(EncodableValue(std::nan(""))), 30},
      {"string", Threshold(EncodableValue("20")), 30},
      {"bool", Threshold(EncodableValue(true)), 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    thresholds_.clear();
    const auto reply = Call("startRawInput", c.args);
    EXPECT_EQ(reply->kind, ReplyRecord::kSuccess);
    EXPECT_TRUE(reply->value.IsNull());
    EXPECT_EQ(thresholds_, std::vector<int32_t>{c.threshold_ms});
  }
}

TEST_F(StartRawInputDispatchTest, AFailedStartAnswersItsMessage) {
  ok_ = false;
  const auto reply = Call("startRawInput", Threshold(EncodableValue(600)));
  EXPECT_EQ(reply->kind, ReplyRecord::kError);
  EXPECT_EQ(reply->code, "raw-input-start-failed");
  EXPECT_EQ(reply->message, "RegisterRawInputDevices 失败（Win32 错误码 5）");
  EXPECT_EQ(thresholds_, std::vector<int32_t>{500});
}

}  // namespace
}  // namespace vek_native
