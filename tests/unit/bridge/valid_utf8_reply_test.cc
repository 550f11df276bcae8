// Every reply that leaves the bridge is valid UTF-8, whatever bytes an
// operation copied into it from its arguments or a driver: error messages of
// synchronous methods and of jobs, and strings and map keys at any depth of
// a success value. A valid reply goes out unchanged.
#include <string>

#include <gtest/gtest.h>

#include "bridge/native_bridge.h"
#include "common/text.h"
#include "unit/bridge/bridge_test_support.h"

namespace vek_native {
namespace {

using testing_support::ReplyRecord;

// A lone surrogate as some tools encode it, an overlong "/" and a cut-off
// sequence: each is ill-formed UTF-8.
const std::string kIllFormed[] = {"\xED\xA0\x80", "\xC0\xAF", "\xE4\xB8"};

EncodableValue Args(const char* key, const std::string& value) {
  return EncodableValue(EncodableMap{{EncodableValue(key), EncodableValue(value)}});
}

// Operations that hand back whatever they were given, as the reset's message
// and the diagnostics' notes do.
BridgeOperations EchoOperations() {
  BridgeOperations ops;
  ops.reset_usb_device = [](const std::string& id, EncodableValue*, bool*, std::string* message) {
    *message = "usbInstanceId 不是有效的 USB 设备实例路径：" + id;
    return false;
  };
  ops.read_usb_device_diagnostics = [](const std::string& id, EncodableValue* report,
                                       std::string*) {
    *report = EncodableValue(EncodableMap{
        {EncodableValue("instanceId"), EncodableValue(id)},
        {EncodableValue(id), EncodableValue(int64_t{1})},
        {EncodableValue("notes"),
         EncodableValue(EncodableList{EncodableValue("说明"), EncodableValue(id)})},
    });
    return true;
  };
  ops.open_hid_input = [](const std::string& path, std::string* message) {
    *message = "打开 HID 输入设备失败：" + path;
    return false;
  };
  return ops;
}

class ValidUtf8ReplyTest : public testing_support::AttachedBridgeTest<> {
 protected:
  BridgeOperations Operations() override { return EchoOperations(); }

  std::shared_ptr<ReplyRecord> Answer(const char* method, const EncodableValue& args) {
    auto reply = Call(method, args);
    EXPECT_TRUE(testing_support::PumpUntil(poster_, bridge_, [&] { return reply->replies > 0; }))
        << method;
    return reply;
  }
};

TEST_F(ValidUtf8ReplyTest, IllFormedTextsAreRepairedAndValidOnesKept) {
  for (const std::string& bad : kIllFormed) {
    const std::string id = "USB\\VID_1234" + bad + "&PID_5678";
    const std::string fixed = RepairUtf8(id);
    ASSERT_TRUE(IsValidUtf8(fixed));
    ASSERT_NE(fixed, id);

    const auto reset = Answer("resetHidDevice", Args("usbInstanceId", id));
    EXPECT_EQ(reset->kind, ReplyRecord::kError);
    EXPECT_EQ(reset->code, "reset-failed");
    EXPECT_EQ(reset->message, "usbInstanceId 不是有效的 USB 设备实例路径：" + fixed);

    const auto open = Answer("openHidInput", Args("path", id));
    EXPECT_EQ(open->code, "hid-open-input-failed");
    EXPECT_EQ(open->message, "打开 HID 输入设备失败：" + fixed);

    const auto diagnostics = Answer("readUsbDeviceDiagnostics", Args("instanceId", id));
    ASSERT_EQ(diagnostics->kind, ReplyRecord::kSuccess);
    const EncodableValue expected(EncodableMap{
        {EncodableValue("instanceId"), EncodableValue(fixed)},
        {EncodableValue(fixed), EncodableValue(int64_t{1})},
        {EncodableValue("notes"),
         EncodableValue(EncodableList{EncodableValue("说明"), EncodableValue(fixed)})},
    });
    EXPECT_EQ(diagnostics->value, expected);
  }
  // Valid texts, Chinese included, go out exactly as the operation made them.
  const std::string valid = "USB\\VID_1234&PID_5678\\序列号";
  const auto diagnostics = Answer("readUsbDeviceDiagnostics", Args("instanceId", valid));
  EXPECT_EQ(std::get<EncodableMap>(diagnostics->value).at(EncodableValue("instanceId")),
            EncodableValue(valid));
  EXPECT_EQ(Answer("resetHidDevice", Args("usbInstanceId", valid))->message,
            "usbInstanceId 不是有效的 USB 设备实例路径：" + valid);
}

}  // namespace
}  // namespace vek_native
