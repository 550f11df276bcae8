// Every reply leaves the bridge as valid UTF-8, whatever bytes an operation
// copied into it: a job's error message, strings and map keys at any depth of
// a success value (how each ill-formed sequence is repaired is the text
// helpers' test).
#include <gtest/gtest.h>

#include "unit/bridge/bridge_test_support.h"

namespace vek_native {
namespace {

class ValidUtf8ReplyTest : public testing_support::AttachedBridgeTest<> {
  BridgeOperations Operations() override {
    BridgeOperations ops;
    ops.reset_usb_device = [](const std::string& id, EncodableValue*, bool*, std::string* m) {
      *m = "无效：" + id;
      return false;
    };
    ops.read_usb_device_diagnostics = [](const std::string& id, EncodableValue* v, std::string*) {
      // Each entry has one bad side and no good text: either one alone must be seen.
      *v = EncodableValue(
          EncodableMap{{EncodableValue(id), EncodableValue(1)},
                       {EncodableValue(2), EncodableValue(EncodableList{EncodableValue(id)})}});
      return true;
    };
    return ops;
  }
};

TEST_F(ValidUtf8ReplyTest, IllFormedTextsAreRepaired) {
  // A lone surrogate: two U+FFFD, as Windows converts it.
  const std::string bad = "A\xED\xA0\x80", good = "A\xEF\xBF\xBD\xEF\xBF\xBD";
  const auto call = [&](const char* method, const char* key) {
    return Call(method, EncodableValue(EncodableMap{{EncodableValue(key), EncodableValue(bad)}}));
  };
  const auto reset = call("resetHidDevice", "usbInstanceId");
  const auto diagnostics = call("readUsbDeviceDiagnostics", "instanceId");
  ASSERT_TRUE(testing_support::PumpUntil(
      poster_, bridge_, [&] { return reset->replies + diagnostics->replies == 2; }));
  EXPECT_EQ(reset->message, "无效：" + good);
  EXPECT_EQ(diagnostics->value,
            EncodableValue(EncodableMap{
                {EncodableValue(good), EncodableValue(1)},
                {EncodableValue(2), EncodableValue(EncodableList{EncodableValue(good)})}}));
}

}  // namespace
}  // namespace vek_native
