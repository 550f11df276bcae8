#include "hid/hid_input.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/clock.h"
#include "support/hid/fake_hid_device_api.h"

namespace vek_native {
namespace {

using fake::FakeHidDeviceApi;
using fake::FakeHidDeviceSpec;

// Collects emitted events; Wait() blocks until `count` have arrived.
class EventRecorder {
 public:
  EventEmitter Emitter() {
    return [this](EncodableMap&& event) {
      std::lock_guard<std::mutex> lock(mutex_);
      events_.push_back(std::move(event));
      changed_.notify_all();
    };
  }
  std::vector<EncodableMap> Wait(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return events_.size() >= count; });
    return events_;
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<EncodableMap> events_;
};

FakeHidDeviceSpec Device(const std::string& path, uint16_t input_length = 8) {
  FakeHidDeviceSpec spec;
  spec.path = path;
  spec.caps.input_report_byte_length = input_length;
  return spec;
}

const std::vector<uint8_t>& Data(const EncodableMap& event) {
  return std::get<std::vector<uint8_t>>(event.at(EncodableValue("data")));
}

TEST(HidInputEventTest, Shape) {
  const uint8_t bytes[] = {0x01, 0x00, 0xff};
  const EncodableMap event = MakeHidInputEvent("path", bytes, 3, 1234567);
  EXPECT_EQ(event.size(), 4u);
  EXPECT_EQ(event.at(EncodableValue("channel")), EncodableValue("hidInput"));
  EXPECT_EQ(event.at(EncodableValue("devicePath")), EncodableValue("path"));
  EXPECT_EQ(event.at(EncodableValue("timestampUs")), EncodableValue(int64_t{1234567}));
  EXPECT_EQ(Data(event), (std::vector<uint8_t>{0x01, 0x00, 0xff}));
}

// Reads use the input report length, or 64 bytes when the caps cannot be
// read; each event carries exactly the bytes one read returned.
TEST(HidInputReadersTest, EventsCarryExactlyTheBytesRead) {
  FakeHidDeviceSpec no_caps = Device("b");
  no_caps.has_preparsed_data = false;
  FakeHidDeviceApi api({Device("a", 8), no_caps});
  EventRecorder recorder;
  HidInputReaders readers(api, recorder.Emitter());
  std::string message;
  const uint64_t before = NowMicros();
  ASSERT_TRUE(readers.Open("a", &message)) << message;
  api.PushReport("a", {0x01, 0x02, 0x03});                    // shorter than the report length
  api.PushReport("a", {});                                    // a zero-byte read emits nothing
  api.PushReport("a", {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0xAA});  // cut to the buffer's 8 bytes
  api.WaitUntilDrained("a");
  const auto events = recorder.Wait(2);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(Data(events[0]), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(Data(events[1]), (std::vector<uint8_t>{9, 8, 7, 6, 5, 4, 3, 2}));
  for (const auto& event : events) {
    EXPECT_EQ(event.at(EncodableValue("devicePath")), EncodableValue("a"));
    EXPECT_GE(event.at(EncodableValue("timestampUs")).LongValue(), static_cast<int64_t>(before));
  }
  EXPECT_EQ(api.State("a").read_sizes.front(), 8u);
  ASSERT_TRUE(readers.Open("b", &message));
  api.WaitUntilDrained("b");
  EXPECT_EQ(api.State("b").read_sizes.front(), 64u);
}

TEST(HidInputReadersTest, OneReaderPerPath) {
  FakeHidDeviceApi api({Device("a"), Device("A")});
  EventRecorder recorder;
  HidInputReaders readers(api, recorder.Emitter());
  std::string message;
  ASSERT_TRUE(readers.Open("a", &message));
  ASSERT_TRUE(readers.Open("a", &message));
  EXPECT_EQ(readers.ReaderCount(), 1u);
  EXPECT_EQ(api.OpenHandles("a"), 1);
  EXPECT_EQ(api.State("a").open_attempts.size(), 1u);  // nothing reopened
  // The key is case-sensitive: another spelling is another reader.
  ASSERT_TRUE(readers.Open("A", &message));
  EXPECT_EQ(readers.ReaderCount(), 2u);

  readers.Close("a");
  EXPECT_FALSE(readers.HasReader("a"));
  EXPECT_EQ(api.OpenHandles("a"), 0);
  readers.Close("never-opened");  // nothing to do, nothing changes
  EXPECT_EQ(readers.ReaderCount(), 1u);
  readers.CloseAll();
  EXPECT_EQ(readers.ReaderCount(), 0u);
  EXPECT_EQ(api.OpenHandles("A"), 0);
}

TEST(HidInputReadersTest, FailedOpensLeaveNothingBehind) {
  FakeHidDeviceSpec refuses = Device("refuses");
  refuses.opens = {HidAccess::kAttributesOnly};
  FakeHidDeviceSpec no_event = Device("no-event");
  no_event.stop_event_fails = true;
  FakeHidDeviceApi api({refuses, no_event, Device("no-thread")});
  EventRecorder recorder;
  bool refuse_threads = false;
  HidInputReaders readers(api, recorder.Emitter(), [&](std::function<void()> body) {
    if (refuse_threads) {
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }
    std::thread(std::move(body)).detach();
  });

  struct Case {
    const char* path;
    bool no_threads;
    std::string message;
  } cases[] = {
      {"", false, "HID 设备路径为空"},
      {"refuses", false, "打开 HID 输入设备失败（Win32 错误码 5）"},
      {"no-event", false, "创建 HID 读取停止事件失败（Win32 错误码 1450）"},
      {"no-thread", true,
       "启动 HID 读取线程失败（错误码 " +
           std::to_string(static_cast<int>(std::errc::resource_unavailable_try_again)) + "）"},
  };
  for (const Case& c : cases) {
    refuse_threads = c.no_threads;
    std::string message;
    EXPECT_FALSE(readers.Open(c.path, &message)) << c.path;
    EXPECT_EQ(message, c.message) << c.path;
    EXPECT_EQ(readers.ReaderCount(), 0u) << c.path;
    if (*c.path) {
      EXPECT_EQ(api.OpenHandles(c.path), 0) << c.path;
    }
  }
  // Input readers open for overlapped I/O: read/write first, then read-only.
  const auto& attempts = api.State("refuses").open_attempts;
  ASSERT_EQ(attempts.size(), 2u);
  EXPECT_EQ(attempts[0], std::make_pair(HidAccess::kReadWrite, true));
  EXPECT_EQ(attempts[1], std::make_pair(HidAccess::kRead, true));

  // Once threads can start again, the same path opens normally.
  refuse_threads = false;
  std::string message;
  EXPECT_TRUE(readers.Open("no-thread", &message));
}

TEST(HidInputReadersTest, RemovedDeviceEndsItsLoopSilentlyAndStillCloses) {
  FakeHidDeviceApi api({Device("a")});
  EventRecorder recorder;
  HidInputReaders readers(api, recorder.Emitter());
  std::string message;
  ASSERT_TRUE(readers.Open("a", &message));
  api.PushReport("a", {1});
  recorder.Wait(1);
  api.Remove("a");
  // The read after the report fails on the removed device and the loop leaves.
  {
    auto& state = api.State("a");
    std::unique_lock<std::mutex> lock(state.mutex);
    ASSERT_TRUE(state.changed.wait_for(lock, std::chrono::seconds(10), [&] {
      return state.reads_in_progress == 0 && state.read_sizes.size() >= 2;
    }));
  }
  EXPECT_EQ(recorder.Count(), 1u);  // no event of its own
  EXPECT_TRUE(readers.HasReader("a"));
  // A second open keeps the ended reader: nothing is restarted.
  EXPECT_TRUE(readers.Open("a", &message));
  EXPECT_EQ(api.State("a").open_attempts.size(), 1u);
  readers.Close("a");
  EXPECT_FALSE(readers.HasReader("a"));
  EXPECT_EQ(api.OpenHandles("a"), 0);
  // The report, then the failed read: a loop that retried would read on.
  EXPECT_EQ(api.State("a").read_sizes.size(), 2u);
}

TEST(HidInputReadersTest, ReadEventFailureEndsTheLoopButKeepsTheReader) {
  FakeHidDeviceSpec spec = Device("a");
  spec.read_event_fails = true;
  FakeHidDeviceApi api({spec});
  EventRecorder recorder;
  HidInputReaders readers(api, recorder.Emitter());
  std::string message;
  ASSERT_TRUE(readers.Open("a", &message));
  EXPECT_TRUE(readers.HasReader("a"));
  readers.Close("a");
  EXPECT_EQ(api.OpenHandles("a"), 0);
  EXPECT_TRUE(api.State("a").read_sizes.empty());
}

TEST(HidInputReadersTest, DestructionClosesEveryReader) {
  FakeHidDeviceApi api({Device("a"), Device("b"), Device("c")});
  EventRecorder recorder;
  {
    HidInputReaders readers(api, recorder.Emitter());
    std::string message;
    for (const char* path : {"a", "b", "c"}) ASSERT_TRUE(readers.Open(path, &message));
    for (const char* path : {"a", "b", "c"}) api.WaitUntilDrained(path);
  }
  for (const char* path : {"a", "b", "c"}) EXPECT_EQ(api.OpenHandles(path), 0) << path;
}

// Several threads open and close readers of a few devices while reports flow
// and events are emitted; run under TSan to check the table's locking.
TEST(HidInputReadersTest, ConcurrentOpenCloseWhileEventsFlow) {
  const std::vector<std::string> paths = {"p0", "p1", "p2", "p3"};
  FakeHidDeviceApi api;
  for (const auto& path : paths) api.Add(Device(path));
  std::atomic<uint64_t> emitted{0};
  HidInputReaders readers(api, [&](EncodableMap&& event) {
    if (!Data(event).empty()) emitted.fetch_add(1);
  });

  std::atomic<bool> done{false};
  std::thread producer([&] {
    uint8_t n = 0;
    while (!done.load()) {
      for (const auto& path : paths) api.PushReport(path, {n, 1, 2, 3});
      ++n;
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; ++w) {
    workers.emplace_back([&, w] {
      for (int i = 0; i < 200; ++i) {
        const std::string& path = paths[(w + i) % paths.size()];
        std::string message;
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
  // Events still flow after all that churn.
  std::string message;
  ASSERT_TRUE(readers.Open("p0", &message));
  const uint64_t seen = emitted.load();
  for (int i = 0; i < 10000 && emitted.load() == seen; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_GT(emitted.load(), seen);
  readers.CloseAll();
  done = true;
  producer.join();
  EXPECT_EQ(readers.ReaderCount(), 0u);
  for (const auto& path : paths) EXPECT_EQ(api.OpenHandles(path), 0) << path;
}

}  // namespace
}  // namespace vek_native
