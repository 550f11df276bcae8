// The HID operations behind the real bridge: the method names reach them,
// failures come back with their codes, reader events arrive on the event
// stream, and detaching the bridge closes every reader.
#include <gtest/gtest.h>

#include "bridge/native_bridge.h"
#include "hid/hid_operations.h"
#include "support/hid/fake_hid_device_api.h"
#include "unit/bridge/bridge_test_support.h"

namespace vek_native {
namespace {

using fake::FakeDeviceTree;
using fake::FakeHidDeviceApi;
using fake::FakeHidDeviceSpec;
using testing_support::PumpUntil;
using testing_support::RecordingSink;
using testing_support::ReplyRecord;

const char kMouse[] = R"(\\?\hid#vid_845e&pid_0001#1&2#{4d1e55b2-f16f-11cf-88cb-001111000030})";

class HidBridgeTest : public testing_support::AttachedBridgeTest<> {
 protected:
  void SetUp() override {
    FakeHidDeviceSpec mouse;
    mouse.path = kMouse;
    mouse.attributes = {0x845e, 0x0001, 0};
    mouse.caps.input_report_byte_length = 4;
    mouse.caps.output_report_byte_length = 3;
    api_.Add(mouse);
    AttachedBridgeTest::SetUp();
    bridge_.OnListen(std::make_unique<RecordingSink>(&events_));
  }
  BridgeOperations Operations() override {
    BridgeOperations ops;
    BindHidOperations(ops, api_, tree_,
                      [this](EncodableMap&& event) { bridge_.EmitEvent(std::move(event)); });
    return ops;
  }

  std::shared_ptr<ReplyRecord> Call(const std::string& method, EncodableMap arguments = {}) {
    return AttachedBridgeTest::Call(method, EncodableValue(std::move(arguments)));
  }

  static EncodableMap Path(const std::string& path) {
    return EncodableMap{{EncodableValue("path"), EncodableValue(path)}};
  }

  FakeHidDeviceApi api_;
  FakeDeviceTree tree_;
  std::vector<EncodableValue> events_;
};

TEST_F(HidBridgeTest, ListOpenReadWriteClose) {
  auto list = Call("listHidDevices");
  ASSERT_EQ(list->kind, ReplyRecord::kSuccess);
  ASSERT_EQ(std::get<EncodableList>(list->value).size(), 1u);

  ASSERT_EQ(Call("openHidInput", Path(kMouse))->kind, ReplyRecord::kSuccess);
  api_.PushReport(kMouse, {0x01, 0x05, 0xfb, 0x00});
  ASSERT_TRUE(PumpUntil(poster_, bridge_, [&] { return !events_.empty(); }));
  const auto& event = std::get<EncodableMap>(events_[0]);
  EXPECT_EQ(event.at(EncodableValue("channel")), EncodableValue("hidInput"));
  EXPECT_EQ(event.at(EncodableValue("devicePath")), EncodableValue(kMouse));
  EXPECT_EQ(event.at(EncodableValue("data")),
            EncodableValue(std::vector<uint8_t>{0x01, 0x05, 0xfb, 0x00}));

  EncodableMap write = Path(kMouse);
  write[EncodableValue("data")] = EncodableValue(std::vector<uint8_t>{0x02});
  ASSERT_EQ(Call("writeHidOutput", write)->kind, ReplyRecord::kSuccess);
  EXPECT_EQ(api_.State(kMouse).write_file_calls.back(), (std::vector<uint8_t>{0x02, 0, 0}));

  EXPECT_EQ(Call("closeHidInput", Path(kMouse))->kind, ReplyRecord::kSuccess);
  EXPECT_EQ(Call("closeHidInput", Path("never-opened"))->kind, ReplyRecord::kSuccess);
  EXPECT_EQ(api_.OpenHandles(kMouse), 0);
}

TEST_F(HidBridgeTest, FailuresCarryTheirCodes) {
  auto open = Call("openHidInput", Path("missing"));
  EXPECT_EQ(open->kind, ReplyRecord::kError);
  EXPECT_EQ(open->code, "hid-open-input-failed");
  EXPECT_EQ(open->message, "打开 HID 输入设备失败（Win32 错误码 2）");

  EncodableMap write = Path("missing");
  write[EncodableValue("data")] = EncodableValue(std::vector<uint8_t>{1});
  auto feature = Call("writeHidFeature", write);
  EXPECT_EQ(feature->code, "hid-write-feature-failed");
  EXPECT_EQ(feature->message, "打开 HID 设备失败（Win32 错误码 2）");
}

TEST_F(HidBridgeTest, DetachClosesEveryReader) {
  ASSERT_EQ(Call("openHidInput", Path(kMouse))->kind, ReplyRecord::kSuccess);
  EXPECT_EQ(api_.OpenHandles(kMouse), 1);
  bridge_.Detach();
  EXPECT_EQ(api_.OpenHandles(kMouse), 0);
}

}  // namespace
}  // namespace vek_native
