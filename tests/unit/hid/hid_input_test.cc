#include "hid/hid_input.h"

#include <gtest/gtest.h>

#include <mutex>
#include <system_error>
#include <thread>

#include "common/clock.h"
#include "hid/hid_report_read.h"
#include "support/hex.h"
#include "support/hid/fake_hid_device_api.h"

namespace vek_native {
namespace {

using fake::FakeHidDeviceApi;
using fake::FakeHidDeviceSpec;

FakeHidDeviceSpec Device(const std::string& path) {
  FakeHidDeviceSpec spec;
  spec.path = path;
  spec.caps.input_report_byte_length = 8;
  return spec;
}

// Reads use the input report length; each event carries exactly the bytes
// one read returned, and on a path opened with decoding also its values (for
// a report off the layout, its findings instead). A reader emits before it
// reads again, so once the fake is drained every event is in.
TEST(HidInputReadersTest, EventsCarryExactlyTheBytesRead) {
  FakeHidDeviceApi api({Device("a"), Device("d")});
  std::vector<EncodableMap> events;
  // Three buttons, five bits of padding, X and Y of a signed byte each.
  const std::vector<uint8_t> mouse = vek_test::FromHex(
      "05010902A101050919012903150025017501950381027505950181010501093009311581257F750895028106C0");
  HidInputReaders readers(
      api, [&](EncodableMap&& event) { events.push_back(std::move(event)); }, StartDetachedThread,
      [&](HidDevice&, std::string*) { return MakeDescriptorInputDecoder(mouse); });
  std::string message;
  const int64_t before = static_cast<int64_t>(NowMicros());
  ASSERT_TRUE(readers.Open("a", &message)) << message;
  api.PushReport("a", {0x01, 0x02, 0x03});                    // shorter than the report length
  api.PushReport("a", {});                                    // a zero-byte read emits nothing
  api.PushReport("a", {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0xAA});  // cut to the buffer's 8 bytes
  api.WaitUntilDrained("a");
  ASSERT_EQ(events.size(), 2u);
  const std::vector<uint8_t> data[] = {{1, 2, 3}, {9, 8, 7, 6, 5, 4, 3, 2}};
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_GE(events[i].at(EncodableValue("timestampUs")).LongValue(), before);
    events[i].erase(EncodableValue("timestampUs"));
    EXPECT_EQ(events[i], (EncodableMap{{EncodableValue("channel"), EncodableValue("hidInput")},
                                       {EncodableValue("devicePath"), EncodableValue("a")},
                                       {EncodableValue("data"), EncodableValue(data[i])}}));
  }
  ASSERT_TRUE(readers.Open("d", {true, 64}, &message)) << message;
  EXPECT_EQ(api.State("d").input_buffers, 64u);
  EXPECT_FALSE(readers.Open("a", {true, 0}, &message));  // a plain reader does not decode
  // A reader serves opens asking for its own buffer count or none, not another.
  EXPECT_TRUE(readers.Open("d", {false, 64}, &message) && readers.Open("d", {false, 0}, &message));
  EXPECT_FALSE(readers.Open("d", {false, 32}, &message));
  api.PushReport("d", {0, 1, 0xFB, 5});  // Windows' 0 in front: the descriptor has no IDs
  api.PushReport("d", {0, 1});
  api.WaitUntilDrained("d");
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[2][EncodableValue("fields")],
            EncodableValue(
                std::vector<int64_t>{0x90001, 1, 0x90002, 0, 0x90003, 0, 0x10030, -5, 0x10031, 5}));
  EXPECT_EQ(events[3][EncodableValue("fields")], EncodableValue(std::vector<int64_t>{}));
  EXPECT_EQ(events[2].count(EncodableValue("findings")), 0u);
  EXPECT_EQ(std::get<EncodableList>(events[3][EncodableValue("findings")]).size(), 1u);
}

// One reader per path (case-sensitive) until it is closed. A loop that ends
// (the device went, or its read event failed) keeps its reader: nothing is
// reopened or restarted until a close.
TEST(HidInputReadersTest, OneReaderPerPathUntilClosed) {
  FakeHidDeviceSpec no_read_event = Device("b");
  no_read_event.read_event_fails = true;
  FakeHidDeviceSpec no_caps = Device("A");
  no_caps.has_preparsed_data = false;  // no input report length: reads of 64 bytes
  FakeHidDeviceApi api({Device("a"), no_read_event, no_caps});
  {
    HidInputReaders readers(api, nullptr);
    std::string message;
    for (const char* path : {"a", "a", "b", "A"}) ASSERT_TRUE(readers.Open(path, &message));
    EXPECT_EQ(readers.ReaderCount(), 3u);
    // The read fails on the removed device; the loop leaves without reading again.
    api.Remove("a");
    {
      auto& state = api.State("a");
      std::unique_lock<std::mutex> lock(state.mutex);
      ASSERT_TRUE(state.changed.wait_for(lock, std::chrono::seconds(10), [&] {
        return state.reads_in_progress == 0 && state.read_sizes.size() == 1;
      }));
    }
    EXPECT_TRUE(readers.Open("a", &message));
    EXPECT_EQ(api.State("a").open_attempts.size(), 1u);
    EXPECT_TRUE(api.State("b").read_sizes.empty());
    readers.Close("a");
    readers.Close("never-opened");
    EXPECT_FALSE(readers.HasReader("a"));
    EXPECT_TRUE(readers.HasReader("A"));
    EXPECT_EQ(api.OpenHandles("a"), 0);
    EXPECT_EQ(api.State("a").read_sizes.size(), 1u);
    api.WaitUntilDrained("A");  // a reader waiting in its read closes too
    EXPECT_EQ(api.State("A").read_sizes, std::vector<uint32_t>{64});
  }
  EXPECT_EQ(api.OpenHandles("A") + api.OpenHandles("b"), 0);
}

TEST(HidInputReadersTest, FailedOpensLeaveNothingBehind) {
  FakeHidDeviceSpec refuses = Device("refuses");
  refuses.opens = {HidAccess::kAttributesOnly};
  FakeHidDeviceSpec no_event = Device("no-event");
  no_event.stop_event_fails = true;
  FakeHidDeviceSpec no_buffers = Device("no-buffers");
  no_buffers.input_buffers_fails = true;
  FakeHidDeviceSpec no_descriptor = Device("no-descriptor");
  no_descriptor.has_preparsed_data = false;
  FakeHidDeviceApi api({refuses, no_event, Device("no-thread"), no_buffers, no_descriptor});
  bool refuse_threads = false;
  HidInputReaders readers(
      api, nullptr,
      [&](std::function<void()> body) {
        if (refuse_threads) {
          throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        std::thread(std::move(body)).detach();
      },
      MakeHidInputDecoder);
  const std::pair<std::string, std::string> cases[] = {
      {"refuses", "打开 HID 输入设备失败（Win32 错误码 5）"},
      {"no-event", "创建 HID 读取停止事件失败（Win32 错误码 1450）"},
      {"no-thread",
       "启动 HID 读取线程失败（错误码 " +
           std::to_string(static_cast<int>(std::errc::resource_unavailable_try_again)) + "）"},
      {"no-buffers", "HidD_SetNumInputBuffers 设置输入缓冲区数量失败（Win32 错误码 87）"},
      {"no-descriptor",
       "HID 类驱动给不出该集合的报告描述符（预解析数据与 caps 都不可用），无法解码"},
  };
  for (const auto& [path, expected] : cases) {
    refuse_threads = path == "no-thread";
    std::string message;
    // Buffers asked of every device, decoding of the one without a descriptor.
    EXPECT_FALSE(readers.Open(path, {path == "no-descriptor", 8}, &message)) << path;
    EXPECT_EQ(message, expected);
    EXPECT_EQ(readers.ReaderCount(), 0u);
    EXPECT_EQ(api.OpenHandles(path), 0) << path;
  }
}

}  // namespace
}  // namespace vek_native
