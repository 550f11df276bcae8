// Jobs on real worker threads and the event stream (also run under TSan):
// thread-start failure, teardown within its limit, lost or refused wake-ups,
// a worker outliving the bridge; the event queue's bound, order and
// coalesced wake-ups, producers on several threads.
// A flood against the real posted-message quota: win_bridge.
#include <atomic>
#include <chrono>
#include <future>
#include <limits>
#include <system_error>
#include <thread>
#include <vector>

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
using Gate = std::shared_future<void>;  // a job waits until the test opens it

NativeBridge::AsyncJob Job(const char* text, Gate gate = Gate()) {
  return [gate, text](WindowHandle, NativeBridge::AsyncOutcome* outcome) {
    if (gate.valid()) gate.wait();
    outcome->success = true;
    outcome->value = EncodableValue(text);
  };
}

EncodableMap Event(int64_t sequence, int64_t producer = 0) {
  return EncodableMap{{EncodableValue("seq"), EncodableValue(sequence)},
                      {EncodableValue("producer"), EncodableValue(producer)}};
}

// An attached bridge with a listener on its event stream.
class JobsTest : public testing_support::AttachedBridgeTest<> {
 protected:
  void SetUp() override {
    AttachedBridgeTest::SetUp();
    bridge_.OnListen(std::make_unique<testing_support::RecordingSink>(&sent_));
  }
  std::vector<EncodableValue> sent_;
};

TEST_F(JobsTest, NoThreadIsAnsweredAtOnceAndLeavesNothingBehind) {
  std::shared_ptr<ReplyRecord> record;
  NativeBridge bridge([](std::function<void()>) {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  });
  bridge.Attach(&messenger_, FakeWindow());
  bridge.RunAsync(Job("never"), Recorder(&record));
  EXPECT_EQ(record->code, "native-async-unavailable");
  EXPECT_EQ(record->message,
            "无法启动后台线程（错误码 " +
                std::to_string(static_cast<int>(std::errc::resource_unavailable_try_again)) + "）");
  EXPECT_EQ(bridge.PendingReplyCount(), 0u);
}

TEST_F(JobsTest, DetachWhileAJobRunsReturnsWithinTheLimitAndDropsTheLateOutcome) {
  std::promise<void> gate;
  std::shared_ptr<ReplyRecord> record;
  bridge_.RunAsync(Job("late", gate.get_future().share()), Recorder(&record));
  const auto start = std::chrono::steady_clock::now();
  bridge_.Detach();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));  // limit 1.5 s
  const size_t attempts = poster_.Attempts();
  gate.set_value();
  ASSERT_TRUE(WaitForJobs(bridge_));
  EXPECT_EQ(poster_.Attempts(), attempts);  // nothing posted for the late outcome
  EXPECT_EQ(record->replies, 0);
}

// Refused wake-ups: the worker keeps waking the window thread, however long
// the refusals last, and stops once its outcome has been delivered.
TEST_F(JobsTest, RefusedOutcomeWakeUpIsRetriedUntilOneGetsThrough) {
  struct Case {
    size_t refusals;
    bool event_wakes;  // an event's wake-up gets through first
  } cases[] = {
      // More refusals than fit in a second of retries with pauses capped at
      // 50 ms: a worker that gives up after a while loses the reply.
      {40, false},
      {0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refusals);
    std::shared_ptr<ReplyRecord> record;
    const size_t refused_before = poster_.Refused();
    poster_.RefuseNext(c.event_wakes ? SIZE_MAX : c.refusals);
    bridge_.RunAsync(Job("kept"), Recorder(&record));
    if (c.event_wakes) {
      while (poster_.Refused() == refused_before) std::this_thread::yield();
      poster_.RefuseNext(0);
      bridge_.EmitEvent(Event(0));
    }
    ASSERT_TRUE(PumpUntil(poster_, bridge_, [&] { return record->replies == 1; }));
    EXPECT_GE(poster_.Refused() - refused_before, c.refusals);
    ASSERT_TRUE(WaitForJobs(bridge_));
    poster_.Pump(bridge_);
    EXPECT_EQ(record->replies, 1);
    EXPECT_EQ(bridge_.PendingReplyCount(), 0u);
  }
}

// Holds the first events-ready post until released, then refuses it.
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
  std::atomic<bool> held_{false};
  std::promise<void> entered_, release_;
};

// A job finishing while an event's wake-up is still being posted must not
// count on that post: it may yet be refused.
TEST(JobsWakeTest, WakeUpStillBeingPostedDoesNotCoverAnOutcome) {
  HeldEventPoster poster;
  NullMessenger messenger;
  NativeBridge bridge;
  bridge.SetPoster(&poster);
  bridge.Attach(&messenger, FakeWindow());
  std::thread emitter([&bridge] { bridge.EmitEvent(Event(0)); });
  poster.entered_.get_future().wait();
  std::shared_ptr<ReplyRecord> record;
  bridge.RunAsync(Job("after the refusal"), Recorder(&record));
  // Give the worker time to look at the wake-up in flight (a worker that
  // takes it as covered ends at once).
  for (int i = 0; i < 200 && bridge.RunningJobCount() != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  poster.release_.set_value();
  emitter.join();
  ASSERT_TRUE(PumpUntil(poster, bridge, [&] { return record->replies == 1; }));
  bridge.Detach();
}

// A refusal that comes after a drain ended its claim leaves the wake-up
// posted since then alone: that one still covers the next event.
TEST(JobsWakeTest, AStaleRefusalLeavesANewerWakeUpAlone) {
  HeldEventPoster poster;
  NullMessenger messenger;
  NativeBridge bridge;
  bridge.SetPoster(&poster);
  bridge.Attach(&messenger, FakeWindow());
  std::thread emitter([&bridge] { bridge.EmitEvent(Event(0)); });
  poster.entered_.get_future().wait();
  bridge.DrainEvents();
  bridge.EmitEvent(Event(1));
  poster.release_.set_value();
  emitter.join();
  const size_t attempts = poster.Attempts();
  bridge.EmitEvent(Event(2));
  EXPECT_EQ(poster.Attempts(), attempts);
  bridge.Detach();
}

TEST(RequestIdTest, WrapsToOneWithoutOverflow) {
  EXPECT_EQ(NextRequestId(41), 42);
  EXPECT_EQ(NextRequestId(std::numeric_limits<int32_t>::max()), 1);
}

// One wake-up covers many events, and a job that finishes behind it (its
// worker ends without posting or waiting for a drain); a refused one is
// posted again.
TEST_F(JobsTest, OverflowKeepsTheNewestInOrderAndCountsTheRestUntilDetach) {
  const int emitted = static_cast<int>(kEventQueueBound) + 3616;
  poster_.RefuseNext(1);
  for (int i = 0; i < emitted; ++i) bridge_.EmitEvent(Event(i));
  std::shared_ptr<ReplyRecord> record;
  bridge_.RunAsync(Job("covered"), Recorder(&record));
  ASSERT_TRUE(WaitForJobs(bridge_));
  EXPECT_EQ(poster_.Attempts(), 2u);
  EXPECT_EQ(bridge_.DroppedEventCount(), 3616u);
  poster_.Pump(bridge_);
  EXPECT_EQ(record->replies, 1);
  ASSERT_EQ(sent_.size(), kEventQueueBound);
  for (size_t i = 0; i < sent_.size(); ++i)
    ASSERT_EQ(sent_[i], EncodableValue(Event(3616 + static_cast<int64_t>(i))));
  bridge_.Detach();
  bridge_.EmitEvent(Event(0));  // detached: neither queued nor counted
  EXPECT_EQ(bridge_.DroppedEventCount(), 0u);
}

// As at process exit: the bridge goes while a job still runs; under ASan any
// use of the destroyed bridge by the finishing worker is a finding.
TEST(JobsLifetimeTest, WorkerOutlivingTheBridgeTouchesNothingDestroyed) {
  QueuePoster poster;
  NullMessenger messenger;
  auto bridge = std::make_unique<NativeBridge>();
  bridge->SetPoster(&poster);
  bridge->Attach(&messenger, FakeWindow());
  std::promise<void> gate, finished;
  std::shared_ptr<ReplyRecord> record;
  bridge->RunAsync(
      [gate = gate.get_future().share(), &finished](WindowHandle, NativeBridge::AsyncOutcome*) {
        gate.wait();
        finished.set_value();
      },
      Recorder(&record));
  bridge.reset();
  gate.set_value();
  finished.get_future().wait();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(poster.Attempts(), 0u);
}

// Producers on several threads while this thread drains (under TSan): every
// event is sent or counted as dropped, each producer's in its order.
TEST_F(JobsTest, ProducersOnManyThreadsKeepTheirOrder) {
  constexpr int kProducers = 4, kPerProducer = 20000;
  std::atomic<int> running{kProducers};
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([this, p, &running] {
      for (int i = 0; i < kPerProducer; ++i) bridge_.EmitEvent(Event(i, p));
      --running;
    });
  }
  while (running.load() > 0) poster_.Pump(bridge_);
  for (auto& t : producers) t.join();
  poster_.Pump(bridge_);
  EXPECT_EQ(sent_.size() + bridge_.DroppedEventCount(), size_t{kProducers * kPerProducer});
  std::vector<int64_t> last(kProducers, -1);
  for (const EncodableValue& event : sent_) {
    const auto& map = std::get<EncodableMap>(event);
    const int64_t producer = map.at(EncodableValue("producer")).LongValue();
    ASSERT_GT(map.at(EncodableValue("seq")).LongValue(), last[producer]);
    last[producer] = map.at(EncodableValue("seq")).LongValue();
  }
}

}  // namespace
}  // namespace vek_native
