// Every reply leaves the bridge as valid UTF-8, whatever bytes an operation
// copied into it: a job's error message, strings and map keys at any depth of
// a success value. Valid text goes out unchanged.
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
      *v = EncodableValue(
          EncodableMap{{EncodableValue(id), EncodableValue(EncodableList{EncodableValue(id)})}});
      return true;
    };
    return ops;
  }
};

TEST_F(ValidUtf8ReplyTest, IllFormedTextsAreRepairedAndValidOnesKept) {
  // A lone surrogate (two U+FFFD, as Windows converts it), an overlong "/",
  // a cut-off sequence, valid text.
  const std::string cases[][2] = {{"A\xED\xA0\x80", "A\xEF\xBF\xBD\xEF\xBF\xBD"},
                                  {"A\xC0\xAF", "A\xEF\xBF\xBD\xEF\xBF\xBD"},
                                  {"A\xE4\xB8", "A\xEF\xBF\xBD"},
                                  {"A序号", "A序号"}};
  for (const auto& c : cases) {
    const auto reset =
        Call("resetHidDevice",
             EncodableValue(EncodableMap{{EncodableValue("usbInstanceId"), EncodableValue(c[0])}}));
    const auto diagnostics =
        Call("readUsbDeviceDiagnostics",
             EncodableValue(EncodableMap{{EncodableValue("instanceId"), EncodableValue(c[0])}}));
    ASSERT_TRUE(testing_support::PumpUntil(
        poster_, bridge_, [&] { return reset->replies + diagnostics->replies == 2; }));
    EXPECT_EQ(reset->message, "无效：" + c[1]);
    EXPECT_EQ(diagnostics->value,
              EncodableValue(EncodableMap{
                  {EncodableValue(c[1]), EncodableValue(EncodableList{EncodableValue(c[1])})}}));
  }
}

}  // namespace
}  // namespace vek_native
