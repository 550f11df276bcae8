#include "hid/hid_input.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/clock.h"
#include "support/hid/fake_hid_device_api.h"

namespace vek_native {
namespace {

using fake::FakeHidDeviceApi;
using fake::FakeHidDeviceSpec;

// Collects emitted events. A reader emits a report's event before it reads
// again, so once the fake is drained every event is in.
struct EventRecorder {
  EventEmitter Emitter() {
    return [this](EncodableMap&& event) {
      std::lock_guard<std::mutex> lock(mutex);
      events.push_back(std::move(event));
    };
  }
  std::mutex mutex;
  std::vector<EncodableMap> events;
};

FakeHidDeviceSpec Device(const std::string& path) {
  FakeHidDeviceSpec spec;
  spec.path = path;
  spec.caps.input_report_byte_length = 8;
  return spec;
}

// Reads use the input report length, or 64 bytes when the caps cannot be
// read; each event carries exactly the bytes one read returned.
TEST(HidInputReadersTest, EventsCarryExactlyTheBytesRead) {
  FakeHidDeviceSpec no_caps = Device("b");
  no_caps.has_preparsed_data = false;
  FakeHidDeviceApi api({Device("a"), no_caps});
  EventRecorder recorder;
  HidInputReaders readers(api, recorder.Emitter());
  std::string message;
  const int64_t before = static_cast<int64_t>(NowMicros());
  ASSERT_TRUE(readers.Open("a", &message)) << message;
  api.PushReport("a", {0x01, 0x02, 0x03});                    // shorter than the report length
  api.PushReport("a", {});                                    // a zero-byte read emits nothing
  api.PushReport("a", {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0xAA});  // cut to the buffer's 8 bytes
  api.WaitUntilDrained("a");
  const std::vector<EncodableMap>& events = recorder.events;
  ASSERT_EQ(events.size(), 2u);
  const std::vector<uint8_t> data[] = {{1, 2, 3}, {9, 8, 7, 6, 5, 4, 3, 2}};
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(events[i].size(), 4u);
    EXPECT_EQ(events[i].at(EncodableValue("channel")), EncodableValue("hidInput"));
    EXPECT_EQ(events[i].at(EncodableValue("devicePath")), EncodableValue("a"));
    EXPECT_EQ(events[i].at(EncodableValue("data")), EncodableValue(data[i]));
    EXPECT_GE(events[i].at(EncodableValue("timestampUs")).LongValue(), before);
  }
  ASSERT_TRUE(readers.Open("b", &message));
  api.WaitUntilDrained("b");
  EXPECT_EQ(api.State("a").read_sizes.front() + api.State("b").read_sizes.front(), 8u + 64u);
}

// One reader per path (case-sensitive) until it is closed. A loop that ends
// (the device went, or its read event failed) keeps its reader: nothing is
// reopened or restarted until a close.
TEST(HidInputReadersTest, OneReaderPerPathUntilClosed) {
  FakeHidDeviceSpec no_read_event = Device("b");
  no_read_event.read_event_fails = true;
  FakeHidDeviceApi api({Device("a"), no_read_event, Device("A")});
  EventRecorder recorder;
  {
    HidInputReaders readers(api, recorder.Emitter());
    std::string message;
    for (const char* path : {"a", "a", "b", "A"}) ASSERT_TRUE(readers.Open(path, &message));
    EXPECT_EQ(readers.ReaderCount(), 3u);
    api.PushReport("a", {1});
    api.WaitUntilDrained("a");
    // The read after the report fails on the removed device; the loop leaves
    // without an event of its own and without reading again.
    api.Remove("a");
    {
      auto& state = api.State("a");
      std::unique_lock<std::mutex> lock(state.mutex);
      ASSERT_TRUE(state.changed.wait_for(lock, std::chrono::seconds(10), [&] {
        return state.reads_in_progress == 0 && state.read_sizes.size() == 2;
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
    EXPECT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(api.State("a").read_sizes.size(), 2u);
    api.WaitUntilDrained("A");  // a reader waiting in its read closes too
  }
  EXPECT_EQ(api.OpenHandles("A") + api.OpenHandles("b"), 0);
}

TEST(HidInputReadersTest, FailedOpensLeaveNothingBehind) {
  FakeHidDeviceSpec refuses = Device("refuses");
  refuses.opens = {HidAccess::kAttributesOnly};
  FakeHidDeviceSpec no_event = Device("no-event");
  no_event.stop_event_fails = true;
  FakeHidDeviceApi api({refuses, no_event, Device("no-thread")});
  bool refuse_threads = false;
  HidInputReaders readers(api, nullptr, [&](std::function<void()> body) {
    if (refuse_threads) {
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }
    return std::thread(std::move(body));
  });
  const std::pair<const char*, std::string> cases[] = {
      {"", "HID 设备路径为空"},
      {"refuses", "打开 HID 输入设备失败（Win32 错误码 5）"},
      {"no-event", "创建 HID 读取停止事件失败（Win32 错误码 1450）"},
      {"no-thread",
       "启动 HID 读取线程失败（错误码 " +
           std::to_string(static_cast<int>(std::errc::resource_unavailable_try_again)) + "）"},
  };
  for (const auto& c : cases) {
    refuse_threads = std::string(c.first) == "no-thread";
    std::string message;
    EXPECT_FALSE(readers.Open(c.first, &message)) << c.first;
    EXPECT_EQ(message, c.second);
    EXPECT_EQ(readers.ReaderCount(), 0u);
    if (*c.first) {
      EXPECT_EQ(api.OpenHandles(c.first), 0) << c.first;
    }
  }
  // Input readers open for overlapped reads: read/write first, then read-only.
  EXPECT_EQ(api.State("refuses").open_attempts,
            (std::vector<std::pair<HidAccess, bool>>{{HidAccess::kReadWrite, true},
                                                     {HidAccess::kRead, true}}));
  refuse_threads = false;
  std::string message;
  EXPECT_TRUE(readers.Open("no-thread", &message));
}

// Threads open and close readers of a few devices while reports flow; under
// TSan this checks the table's locking.
TEST(HidInputReadersTest, ConcurrentOpenCloseWhileEventsFlow) {
  const std::vector<std::string> paths = {"p0", "p1", "p2", "p3"};
  FakeHidDeviceApi api;
  for (const auto& path : paths) api.Add(Device(path));
  std::atomic<uint64_t> emitted{0};
  HidInputReaders readers(api, [&](EncodableMap&&) { ++emitted; });
  std::atomic<bool> done{false};
  std::thread producer([&] {
    for (uint8_t n = 0; !done; ++n) {
      for (const auto& path : paths) api.PushReport(path, {n});
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; ++w) {
    workers.emplace_back([&, w] {
      std::string message;
      for (int i = 0; i < 200; ++i) {
        const std::string& path = paths[(w + i) % paths.size()];
        if (i % 3 == 2) {
          readers.Close(path);
        } else {
          EXPECT_TRUE(readers.Open(path, &message)) << message;
        }
        if (i % 50 == 0) readers.CloseAll();
      }
    });
  }
  for (auto& worker : workers) worker.join();
  done = true;
  producer.join();
  // Events still flow after all that churn.
  readers.CloseAll();
  std::string message;
  ASSERT_TRUE(readers.Open("p0", &message));
  api.WaitUntilDrained("p0");
  const uint64_t seen = emitted;
  api.PushReport("p0", {1});
  api.WaitUntilDrained("p0");
  EXPECT_EQ(emitted, seen + 1);
  readers.CloseAll();
  for (const auto& path : paths) EXPECT_EQ(api.OpenHandles(path), 0) << path;
}

}  // namespace
}  // namespace vek_native
