// The event stream: bound and dropped count, order, coalesced wake-ups,
// listen/cancel, and producers on several threads (also run under TSan).
#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "bridge/native_bridge.h"
#include "unit/bridge/bridge_test_support.h"

namespace vek_native {
namespace {

using testing_support::FakeWindow;
using testing_support::RecordingSink;

EncodableMap Event(int64_t sequence, int64_t producer = 0) {
  return EncodableMap{{EncodableValue("channel"), EncodableValue("hidInput")},
                      {EncodableValue("seq"), EncodableValue(sequence)},
                      {EncodableValue("producer"), EncodableValue(producer)}};
}

int64_t Field(const EncodableValue& event, const char* key) {
  const auto& map = std::get<EncodableMap>(event);
  return map.at(EncodableValue(key)).LongValue();
}

class EventsTest : public testing_support::AttachedBridgeTest<> {
 protected:
  void SetUp() override {
    AttachedBridgeTest::SetUp();
    bridge_.OnListen(std::make_unique<RecordingSink>(&sent_));
  }

  std::vector<EncodableValue> sent_;
};

TEST_F(EventsTest, OverflowKeepsTheNewestInOrderAndCountsTheRest) {
  struct Case {
    int emitted;
    uint64_t dropped;
  } cases[] = {{16385, 1}, {20000, 3616}, {16384, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.emitted);
    sent_.clear();
    for (int i = 0; i < c.emitted; ++i) bridge_.EmitEvent(Event(i));
    EXPECT_EQ(bridge_.DroppedEventCount(), c.dropped);
    poster_.Pump(bridge_);
    ASSERT_EQ(sent_.size(), kEventQueueBound);
    for (size_t i = 0; i < sent_.size(); ++i) {
      ASSERT_EQ(Field(sent_[i], "seq"), static_cast<int64_t>(c.dropped + i));
    }
    // Only a detach resets the count.
    bridge_.Detach();
    EXPECT_EQ(bridge_.DroppedEventCount(), 0u);
    bridge_.Attach(&messenger_, FakeWindow());
    bridge_.OnListen(std::make_unique<RecordingSink>(&sent_));
  }
}

TEST_F(EventsTest, EmitTakesTheMapAndOneWakeUpCoversManyEvents) {
  EncodableMap event = Event(1);
  bridge_.EmitEvent(std::move(event));
  EXPECT_TRUE(event.empty());
  for (int i = 2; i <= 1000; ++i) bridge_.EmitEvent(Event(i));
  EXPECT_EQ(poster_.Attempts(), 1u);
  poster_.Pump(bridge_);
  EXPECT_EQ(sent_.size(), 1000u);
  // The drain re-arms the wake-up.
  bridge_.EmitEvent(Event(1001));
  EXPECT_EQ(poster_.Attempts(), 2u);
  poster_.Pump(bridge_);
  EXPECT_EQ(sent_.size(), 1001u);
}

TEST_F(EventsTest, RefusedWakeUpIsPostedAgainByTheNextEvent) {
  poster_.SetRefuseAll(true);
  bridge_.EmitEvent(Event(1));
  poster_.SetRefuseAll(false);
  bridge_.EmitEvent(Event(2));
  poster_.Pump(bridge_);
  ASSERT_EQ(sent_.size(), 2u);
  EXPECT_EQ(Field(sent_[0], "seq"), 1);
}

TEST_F(EventsTest, EventsOutsideAttachmentAreNeitherQueuedNorCounted) {
  bridge_.Detach();
  for (int i = 0; i < 20000; ++i) bridge_.EmitEvent(Event(i));
  EXPECT_EQ(bridge_.DroppedEventCount(), 0u);
  EXPECT_EQ(poster_.Attempts(), 0u);
  bridge_.Attach(&messenger_, FakeWindow());
  bridge_.OnListen(std::make_unique<RecordingSink>(&sent_));
  bridge_.DrainEvents();
  EXPECT_TRUE(sent_.empty());
}

TEST_F(EventsTest, SecondListenReplacesTheSinkAndCancelDropsEventsAtDrain) {
  std::vector<EncodableValue> second;
  bridge_.OnListen(std::make_unique<RecordingSink>(&second));
  bridge_.EmitEvent(Event(1));
  poster_.Pump(bridge_);
  EXPECT_TRUE(sent_.empty());
  EXPECT_EQ(second.size(), 1u);

  bridge_.OnCancel();
  bridge_.OnCancel();  // a cancel without a listener is harmless
  bridge_.EmitEvent(Event(2));
  EXPECT_EQ(poster_.Queued(), 1u);  // still posted
  poster_.Pump(bridge_);
  bridge_.OnListen(std::make_unique<RecordingSink>(&second));
  bridge_.DrainEvents();
  EXPECT_EQ(second.size(), 1u);  // dropped at the drain, not kept for later
}

TEST_F(EventsTest, ProducersOnManyThreadsKeepTheirOrderAndEveryEventIsAccountedFor) {
  constexpr int kProducers = 4;
  constexpr int kPerProducer = 20000;
  std::atomic<int> running{kProducers};
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([this, p, &running] {
      for (int i = 0; i < kPerProducer; ++i) bridge_.EmitEvent(Event(i, p));
      --running;
    });
  }
  // This thread is the window thread.
  while (running.load() > 0) poster_.Pump(bridge_);
  for (auto& t : producers) t.join();
  poster_.Pump(bridge_);
  bridge_.DrainEvents();
  EXPECT_EQ(sent_.size() + bridge_.DroppedEventCount(),
            static_cast<size_t>(kProducers * kPerProducer));
  std::vector<int64_t> last(kProducers, -1);
  for (const EncodableValue& event : sent_) {
    const int64_t producer = Field(event, "producer");
    const int64_t sequence = Field(event, "seq");
    ASSERT_GT(sequence, last[producer]);
    last[producer] = sequence;
  }
  // A producer that finishes early may see its tail dropped as the oldest
  // while others keep going, but the very newest event always survives.
  int finished = 0;
  for (int p = 0; p < kProducers; ++p) finished += last[p] == kPerProducer - 1;
  EXPECT_GE(finished, 1);
}

}  // namespace
}  // namespace vek_native
