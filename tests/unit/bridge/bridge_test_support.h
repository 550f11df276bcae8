// Fakes for the bridge's tests (also used by the HID and Windows-layer ones):
// a MethodResult that records its reply, an event sink that records events, a
// poster that queues messages like a window thread's queue (refusing posts
// beyond Windows' quota of 10,000), and a fixture holding an attached bridge.
#ifndef VEK_TESTS_UNIT_BRIDGE_BRIDGE_TEST_SUPPORT_H_
#define VEK_TESTS_UNIT_BRIDGE_BRIDGE_TEST_SUPPORT_H_

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "bridge/native_bridge.h"
#include "bridge/window_poster.h"
#include "channels/binary_messenger.h"
#include "channels/event_sink.h"
#include "channels/method_result.h"

namespace vek_native {
namespace testing_support {

struct ReplyRecord {
  enum Kind { kNone, kSuccess, kError, kNotImplemented };
  Kind kind = kNone;
  int replies = 0;
  EncodableValue value;
  std::string code;
  std::string message;
};

class RecordingMethodResult : public MethodResult {
 public:
  explicit RecordingMethodResult(std::shared_ptr<ReplyRecord> record)
      : record_(std::move(record)) {}

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    Record(ReplyRecord::kSuccess);
    record_->value = result ? *result : EncodableValue();
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const EncodableValue*) override {
    Record(ReplyRecord::kError);
    record_->code = code;
    record_->message = message;
  }
  void NotImplementedInternal() override { Record(ReplyRecord::kNotImplemented); }

 private:
  void Record(ReplyRecord::Kind kind) {
    ++record_->replies;
    record_->kind = kind;
  }
  std::shared_ptr<ReplyRecord> record_;
};

inline std::unique_ptr<MethodResult> Recorder(std::shared_ptr<ReplyRecord>* record) {
  *record = std::make_shared<ReplyRecord>();
  return std::make_unique<RecordingMethodResult>(*record);
}

class RecordingSink : public EventSink {
 public:
  explicit RecordingSink(std::vector<EncodableValue>* events) : events_(events) {}

 protected:
  void SuccessInternal(const EncodableValue* event) override {
    events_->push_back(event ? *event : EncodableValue());
  }
  void ErrorInternal(const std::string&, const std::string&, const EncodableValue*) override {
    events_->push_back(EncodableValue("error"));
  }
  void EndOfStreamInternal() override { events_->push_back(EncodableValue("end")); }

 private:
  std::vector<EncodableValue>* events_;
};

// A window thread's posted-message queue.
class QueuePoster : public WindowPoster {
 public:
  bool Post(WindowHandle, uint32_t message) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++attempts_;
    if (refuse_next_ > 0 || queue_.size() >= 10000) {
      if (refuse_next_ > 0) --refuse_next_;
      ++refused_;
      return false;
    }
    queue_.push_back(message);
    return true;
  }

  // The window thread: delivers every queued message to the bridge.
  void Pump(NativeBridge& bridge) {
    for (;;) {
      uint32_t message = 0;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queue_.empty()) return;
        message = queue_.front();
        queue_.pop_front();
      }
      if (message == kEventsReadyMessage) bridge.DrainEvents();
      if (message == kOutcomesReadyMessage) bridge.DrainAsyncOutcomes();
    }
  }

  // Refuses the next `count` posts (0: none more), whatever the queue holds.
  void RefuseNext(size_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    refuse_next_ = count;
  }
  size_t Refused() const { return refused_; }
  size_t Attempts() const { return attempts_; }

 private:
  std::mutex mutex_;
  std::deque<uint32_t> queue_;
  std::atomic<size_t> refuse_next_{0}, refused_{0}, attempts_{0};
};

class NullMessenger : public BinaryMessenger {
 public:
  void Send(const std::string&, const uint8_t*, size_t, BinaryReply) const override {}
  void SetMessageHandler(const std::string&, BinaryMessageHandler) override {}
};

// Pumps until `done` holds; false after a generous limit (a lost reply).
inline bool PumpUntil(QueuePoster& poster, NativeBridge& bridge,
                      const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < end) {
    poster.Pump(bridge);
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

// Waits until no job is running (generous limit).
inline bool WaitForJobs(NativeBridge& bridge) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (bridge.RunningJobCount() != 0) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

inline WindowHandle FakeWindow() {
  static int window;
  return &window;
}

// Hands `method` to the bridge with `args` (null: no argument map at all) and
// returns the record its reply will land in.
inline std::shared_ptr<ReplyRecord> Call(NativeBridge& bridge, const std::string& method,
                                         const EncodableValue& args) {
  std::shared_ptr<ReplyRecord> record;
  auto arguments = args.IsNull() ? nullptr : std::make_unique<EncodableValue>(args);
  bridge.HandleMethodCall(MethodCall(method, std::move(arguments)), Recorder(&record));
  return record;
}

// A bridge with a queue poster, attached to the fake window for the length of
// a test; the operations are set before the attach, as the product does.
template <typename Messenger = NullMessenger>
class AttachedBridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bridge_.SetOperations(Operations());
    bridge_.SetPoster(&poster_);
    bridge_.Attach(&messenger_, FakeWindow());
  }
  void TearDown() override { bridge_.Detach(); }
  virtual BridgeOperations Operations() { return BridgeOperations(); }

  std::shared_ptr<ReplyRecord> Call(const std::string& method, const EncodableValue& args) {
    return testing_support::Call(bridge_, method, args);
  }

  QueuePoster poster_;
  Messenger messenger_;
  NativeBridge bridge_;
};

}  // namespace testing_support
}  // namespace vek_native

#endif  // VEK_TESTS_UNIT_BRIDGE_BRIDGE_TEST_SUPPORT_H_
