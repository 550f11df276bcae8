// HID readers on a device whose cancelled read does not end until the test
// lets it, as a driver that never completes a cancelled read: "closeHidInput"
// and the bridge's Detach answer within their bound, the device stays open
// while its read pends, and the read's late completion touches nothing freed
// (run under ASan and TSan too).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "bridge/native_bridge.h"
#include "hid/hid_operations.h"
#include "support/hid/fake_hid_device_api.h"
#include "support/stuck_io.h"
#include "unit/bridge/bridge_test_support.h"

namespace vek_native {
namespace {

using fake::StuckIoGate;

// Reads pend until the gate opens; Stop signals but does not end them.
// `read_pending` is the device's flag: a read in flight on its handle.
class StuckReadChannel : public HidReadChannel {
 public:
  StuckReadChannel(StuckIoGate& gate, bool* read_pending)
      : gate_(gate), read_pending_(read_pending) {}
  bool PrepareReads() override { return true; }
  HidReadStatus Read(uint8_t* buffer, uint32_t size, uint32_t* transferred) override {
    gate_.Pend(read_pending_);
    // The late completion writes the buffer and the read's own state.
    std::memset(buffer, 0xA5, size);
    completed_bytes_ = size;
    *transferred = 0;
    return stopped_.load() ? HidReadStatus::kStopped : HidReadStatus::kFailed;
  }
  void Stop() override { stopped_ = true; }

 private:
  StuckIoGate& gate_;
  bool* read_pending_;
  std::atomic<bool> stopped_{false};
  uint32_t completed_bytes_ = 0;
};

// A HID collection (it answers its attributes) whose reads get stuck.
class StuckHidDevice : public HidDevice {
 public:
  explicit StuckHidDevice(StuckIoGate& gate) : gate_(gate) {
    std::lock_guard<std::mutex> lock(gate_.mutex);
    ++gate_.devices_open;
  }
  ~StuckHidDevice() override {
    gate_.NoteClose(read_pending_);
    std::lock_guard<std::mutex> lock(gate_.mutex);
    --gate_.devices_open;
    gate_.changed.notify_all();
  }
  bool GetAttributes(HidAttributes*) override { return true; }
  std::unique_ptr<HidPreparsedData> GetPreparsedData() override { return nullptr; }
  bool GetString(HidStringKind, char16_t*, uint32_t) override { return false; }
  bool WriteReport(const std::vector<uint8_t>&, uint32_t*, uint32_t*) override { return false; }
  bool SetOutputReport(std::vector<uint8_t>*, uint32_t*) override { return false; }
  bool SetFeature(std::vector<uint8_t>*, uint32_t*) override { return false; }
  std::unique_ptr<HidReadChannel> CreateReadChannel(uint32_t*) override {
    return std::make_unique<StuckReadChannel>(gate_, &read_pending_);
  }
  void* NativeHandle() const override { return nullptr; }

 private:
  StuckIoGate& gate_;
  bool read_pending_ = false;  // guarded by gate_.mutex
};

class StuckHidApi : public HidDeviceApi {
 public:
  explicit StuckHidApi(StuckIoGate& gate) : gate_(gate) {}
  bool EnumerateInterfaces(std::vector<HidInterfaceEntry>*, uint32_t*) override { return true; }
  std::unique_ptr<HidDevice> Open(const std::string&, HidAccess, bool, uint32_t*) override {
    return std::make_unique<StuckHidDevice>(gate_);
  }

 private:
  StuckIoGate& gate_;
};

// One reader through "closeHidInput", three at once through Detach: each
// answers within a generous multiple of its 500 ms bound, however many
// readers are stuck.
TEST(HidInputStuckReadTest, CloseAndDetachAnswerWhileTheDeviceKeepsItsRead) {
  struct Case {
    const char* name;
    int readers;
    bool detach;
  } cases[] = {{"closeHidInput", 1, false}, {"Detach", 3, true}};
  for (const Case& c : cases) {
    StuckIoGate gate;
    StuckHidApi api(gate);
    fake::FakeDeviceTree tree;
    std::atomic<int> events{0};
    BridgeOperations ops;
    BindHidOperations(ops, api, tree, [&events](EncodableMap&&) { ++events; });
    testing_support::QueuePoster poster;
    testing_support::NullMessenger messenger;
    NativeBridge bridge;
    bridge.SetOperations(ops);
    bridge.SetPoster(&poster);
    bridge.Attach(&messenger, testing_support::FakeWindow());
    for (int i = 0; i < c.readers; ++i) {
      const auto reply = testing_support::Call(
          bridge, "openHidInput",
          EncodableValue(
              EncodableMap{{EncodableValue("path"), EncodableValue(std::to_string(i))}}));
      ASSERT_EQ(reply->kind, testing_support::ReplyRecord::kSuccess) << c.name << reply->message;
    }
    ASSERT_TRUE(gate.WaitFor([&] { return gate.pending == c.readers; })) << c.name;

    std::shared_ptr<testing_support::ReplyRecord> closed;
    const bool answered = fake::ReturnsWithin(
        std::chrono::seconds(5),
        [&] {
          if (c.detach) {
            bridge.Detach();
          } else {
            closed = testing_support::Call(
                bridge, "closeHidInput",
                EncodableValue(EncodableMap{{EncodableValue("path"), EncodableValue("0")}}));
          }
        },
        [&] { gate.Release(); });
    EXPECT_TRUE(answered) << c.name << ": the close waited for the cancelled read";
    if (!c.detach) {
      ASSERT_TRUE(closed);
      EXPECT_EQ(closed->kind, testing_support::ReplyRecord::kSuccess);
    }
    {
      std::lock_guard<std::mutex> lock(gate.mutex);
      // Nothing a pending read uses was let go: the devices are still open.
      EXPECT_EQ(gate.devices_open, c.readers) << c.name;
    }
    gate.Release();
    // Each reader lets go of its device once its read has ended.
    EXPECT_TRUE(gate.WaitFor([&] { return gate.devices_open == 0; })) << c.name;
    std::lock_guard<std::mutex> lock(gate.mutex);
    EXPECT_EQ(gate.late_completions, c.readers) << c.name;
    EXPECT_FALSE(gate.closed_under_pending) << c.name;
    EXPECT_EQ(events.load(), 0) << c.name;
  }
}

}  // namespace
}  // namespace vek_native
