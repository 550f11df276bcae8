// Jobs on real worker threads: replies in finishing order, teardown within
// its limit, thread-start failure, lost wake-ups, and workers outliving the
// bridge. Also run under TSan.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>

#include <gtest/gtest.h>

#include "bridge/native_bridge.h"
#include "unit/bridge/bridge_test_support.h"

namespace vek_native {
namespace {

using testing_support::FakeWindow;
using testing_support::NullMessenger;
using testing_support::PumpUntil;
using testing_support::QueuePoster;
using testing_support::Recorder;
using testing_support::ReplyRecord;
using testing_support::WaitForJobs;

// A gate a job waits at until the test opens it.
class Gate {
 public:
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    condition_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    condition_.wait(lock, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable condition_;
  bool open_ = false;
};

NativeBridge::AsyncJob GatedJob(std::shared_ptr<Gate> gate, const char* text) {
  return [gate, text](WindowHandle, NativeBridge::AsyncOutcome* outcome) {
    gate->Wait();
    outcome->success = true;
    outcome->value = EncodableValue(text);
  };
}

using JobsTest = testing_support::AttachedBridgeTest<>;

TEST_F(JobsTest, JobsRunConcurrentlyAndAreAnsweredInTheOrderTheyFinish) {
  auto first_gate = std::make_shared<Gate>();
  auto second_gate = std::make_shared<Gate>();
  std::shared_ptr<ReplyRecord> first;
  std::shared_ptr<ReplyRecord> second;
  bridge_.RunAsync(GatedJob(first_gate, "first"), Recorder(&first));
  bridge_.RunAsync(GatedJob(second_gate, "second"), Recorder(&second));
  EXPECT_EQ(bridge_.PendingReplyCount(), 2u);

  second_gate->Open();
  ASSERT_TRUE(PumpUntil(poster_, bridge_, [&] { return second->replies == 1; }));
  EXPECT_EQ(first->replies, 0);
  EXPECT_EQ(second->value, EncodableValue("second"));

  first_gate->Open();
  ASSERT_TRUE(PumpUntil(poster_, bridge_, [&] { return first->replies == 1; }));
  EXPECT_EQ(first->value, EncodableValue("first"));
  EXPECT_EQ(bridge_.PendingReplyCount(), 0u);
}

TEST_F(JobsTest, FailedJobIsAnsweredWithItsErrorAndNoDetails) {
  std::shared_ptr<ReplyRecord> record;
  bridge_.RunAsync(
      [](WindowHandle, NativeBridge::AsyncOutcome* outcome) {
        outcome->errorCode = "reset-failed";
        outcome->errorMessage = "复位 USB 设备失败";
      },
      Recorder(&record));
  ASSERT_TRUE(PumpUntil(poster_, bridge_, [&] { return record->replies > 0; }));
  EXPECT_EQ(record->kind, ReplyRecord::kError);
  EXPECT_EQ(record->code, "reset-failed");
  EXPECT_EQ(record->message, "复位 USB 设备失败");
  EXPECT_FALSE(record->has_details);
}

TEST_F(JobsTest, EmptyJobIsRefusedAtOnce) {
  std::shared_ptr<ReplyRecord> record;
  bridge_.RunAsync(NativeBridge::AsyncJob(), Recorder(&record));
  EXPECT_EQ(record->code, "native-async-unavailable");
  EXPECT_EQ(record->message, "异步任务为空");
  EXPECT_EQ(bridge_.RunningJobCount(), 0);
}

TEST_F(JobsTest, ThreadThatCannotStartIsAnsweredAndLeavesNothingBehind) {
  bridge_.SetThreadStarter([](std::function<void()>) {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  });
  std::shared_ptr<ReplyRecord> record;
  bridge_.RunAsync(GatedJob(std::make_shared<Gate>(), "never"), Recorder(&record));
  EXPECT_EQ(record->replies, 1);
  EXPECT_EQ(record->code, "native-async-unavailable");
  EXPECT_EQ(record->message,
            "无法启动后台线程（错误码 " +
                std::to_string(static_cast<int>(std::errc::resource_unavailable_try_again)) + "）");
  EXPECT_EQ(bridge_.RunningJobCount(), 0);
  EXPECT_EQ(bridge_.PendingReplyCount(), 0u);

  // Threads come back: jobs run again.
  bridge_.SetThreadStarter(nullptr);
  bridge_.RunAsync(GatedJob(
                       [] {
                         auto gate = std::make_shared<Gate>();
                         gate->Open();
                         return gate;
                       }(),
                       "ok"),
                   Recorder(&record));
  ASSERT_TRUE(PumpUntil(poster_, bridge_, [&] { return record->replies == 1; }));
}

TEST_F(JobsTest, DetachWhileAJobRunsReturnsWithinTheLimitAndDiscardsTheLateOutcome) {
  auto gate = std::make_shared<Gate>();
  std::shared_ptr<ReplyRecord> record;
  bridge_.RunAsync(GatedJob(gate, "late"), Recorder(&record));
  const auto start = std::chrono::steady_clock::now();
  bridge_.Detach();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(6));  // limit 1500 ms, generous bound
  EXPECT_TRUE(record->destroyed);
  EXPECT_EQ(record->replies, 0);
  EXPECT_EQ(bridge_.PendingReplyCount(), 0u);

  const size_t attempts = poster_.Attempts();
  gate->Open();
  ASSERT_TRUE(WaitForJobs(bridge_));
  EXPECT_EQ(poster_.Attempts(), attempts);  // nothing posted for the late outcome
  poster_.Pump(bridge_);
}

TEST_F(JobsTest, ReattachDiscardsOutcomesOfTheOldWindow) {
  auto gate = std::make_shared<Gate>();
  std::shared_ptr<ReplyRecord> old_record;
  bridge_.RunAsync(GatedJob(gate, "old"), Recorder(&old_record));
  std::thread opener([gate] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    gate->Open();
  });
  bridge_.Attach(&messenger_, FakeWindow());  // waits for the job, then drops its reply
  opener.join();
  ASSERT_TRUE(WaitForJobs(bridge_));
  poster_.Pump(bridge_);
  EXPECT_EQ(old_record->replies, 0);
  EXPECT_TRUE(old_record->destroyed);
}

// An event flood used to fill the window thread's queue so the outcomes-ready
// message of a finished job was refused and its reply never sent.
TEST_F(JobsTest, EventFloodCannotCrowdOutAJobReply) {
  auto gate = std::make_shared<Gate>();
  std::shared_ptr<ReplyRecord> record;
  bridge_.RunAsync(GatedJob(gate, "done"), Recorder(&record));
  for (int i = 0; i < 100000; ++i) {
    EncodableMap event{{EncodableValue("channel"), EncodableValue("hidInput")}};
    bridge_.EmitEvent(std::move(event));
  }
  gate->Open();
  ASSERT_TRUE(WaitForJobs(bridge_));
  EXPECT_EQ(poster_.Refused(), 0u);
  EXPECT_LE(poster_.Queued(), 2u);
  ASSERT_TRUE(PumpUntil(poster_, bridge_, [&] { return record->replies == 1; }));
  EXPECT_EQ(record->value, EncodableValue("done"));
  EXPECT_EQ(bridge_.DroppedEventCount(), 100000u - kEventQueueBound);
}

// Refused wake-ups: the worker keeps waking the window thread, however long
// the refusals last, and stops once its outcome has been delivered.
TEST_F(JobsTest, RefusedOutcomeWakeUpIsRetriedUntilOneGetsThrough) {
  struct Case {
    const char* label;
    size_t refusals;
    bool event_wakes;  // an event's wake-up gets through first
  } cases[] = {
      {"one refusal", 1, false},
      // More refusals than fit in a second of retries with pauses capped at
      // 50 ms: a worker that gives up after a while loses the reply.
      {"refused for seconds", 40, false},
      {"an event's wake-up gets through", 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto open = std::make_shared<Gate>();
    open->Open();
    std::shared_ptr<ReplyRecord> record;
    const size_t refused_before = poster_.Refused();
    if (c.event_wakes) poster_.SetRefuseAll(true);
    poster_.RefuseNext(c.refusals);
    bridge_.RunAsync(GatedJob(open, "kept"), Recorder(&record));
    if (c.event_wakes) {
      while (poster_.Refused() == refused_before) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      poster_.SetRefuseAll(false);
      bridge_.EmitEvent(EncodableMap{{EncodableValue("channel"), EncodableValue("serial")}});
    }
    ASSERT_TRUE(PumpUntil(poster_, bridge_, [&] { return record->replies == 1; }));
    EXPECT_EQ(record->value, EncodableValue("kept"));
    EXPECT_GE(poster_.Refused() - refused_before, c.refusals);
    ASSERT_TRUE(WaitForJobs(bridge_));
    poster_.Pump(bridge_);
    EXPECT_EQ(record->replies, 1);
  }
}

// A poster whose first events-ready post is held until the test releases it,
// and then refused.
class HeldEventPoster : public QueuePoster {
 public:
  bool Post(WindowHandle window, uint32_t message) override {
    if (message == kEventsReadyMessage && !held_.exchange(true)) {
      entered_.set_value();
      release_.get_future().wait();
      return false;
    }
    return QueuePoster::Post(window, message);
  }
  void WaitUntilHeld() { entered_.get_future().wait(); }
  void Release() { release_.set_value(); }

 private:
  std::atomic<bool> held_{false};
  std::promise<void> entered_;
  std::promise<void> release_;
};

// A job finishing while an event's wake-up is still being posted must not
// count on that post: it may yet be refused.
TEST(JobsWakeTest, WakeUpStillBeingPostedDoesNotCoverAnOutcome) {
  HeldEventPoster poster;
  NullMessenger messenger;
  NativeBridge bridge;
  bridge.SetPoster(&poster);
  bridge.Attach(&messenger, FakeWindow());
  std::thread emitter([&bridge] {
    bridge.EmitEvent(EncodableMap{{EncodableValue("channel"), EncodableValue("hidInput")}});
  });
  poster.WaitUntilHeld();
  std::promise<void> job_done;
  std::shared_ptr<ReplyRecord> record;
  bridge.RunAsync(
      [&job_done](WindowHandle, NativeBridge::AsyncOutcome* outcome) {
        outcome->success = true;
        outcome->value = EncodableValue("after the refusal");
        job_done.set_value();
      },
      Recorder(&record));
  job_done.get_future().wait();
  // Give the worker time to look at the wake-up in flight (a worker that
  // takes it as covered ends at once).
  for (int i = 0; i < 200 && bridge.RunningJobCount() != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  poster.Release();
  emitter.join();
  ASSERT_TRUE(PumpUntil(poster, bridge, [&] { return record->replies == 1; }));
  EXPECT_EQ(record->value, EncodableValue("after the refusal"));
  bridge.Detach();
}

TEST(JobsLifetimeTest, WorkerOutlivingTheBridgeTouchesNothingDestroyed) {
  QueuePoster poster;
  NullMessenger messenger;
  auto bridge = std::make_unique<NativeBridge>();
  bridge->SetPoster(&poster);
  bridge->Attach(&messenger, FakeWindow());
  auto gate = std::make_shared<Gate>();
  std::promise<void> finished;
  std::shared_ptr<ReplyRecord> record;
  bridge->RunAsync(
      [gate, &finished](WindowHandle, NativeBridge::AsyncOutcome* outcome) {
        gate->Wait();
        outcome->success = true;
        finished.set_value();
      },
      Recorder(&record));
  bridge.reset();  // as at process exit, with the job still running
  EXPECT_TRUE(record->destroyed);
  gate->Open();
  finished.get_future().wait();
  // The worker finishes on the shared core; ASan reports any use of the
  // destroyed bridge.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(poster.Attempts(), 0u);
}

TEST(RequestIdTest, WrapsToOneWithoutOverflow) {
  EXPECT_EQ(NextRequestId(0), 1);
  EXPECT_EQ(NextRequestId(41), 42);
  EXPECT_EQ(NextRequestId(std::numeric_limits<int32_t>::max()), 1);
  EXPECT_EQ(NextRequestId(-5), 1);
}

}  // namespace
}  // namespace vek_native
