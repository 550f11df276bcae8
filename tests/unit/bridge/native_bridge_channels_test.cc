// The bridge attached to a recording messenger: calls and replies travel as
// standard-codec bytes, and the event channel's listen/cancel drive the sink.
#include <gtest/gtest.h>

#include "bridge/native_bridge.h"
#include "support/fake_binary_messenger.h"
#include "unit/bridge/bridge_test_support.h"

namespace vek_native {
namespace {

using testing_support::FakeWindow;

constexpr char kMethods[] = "vek_tool/native";
constexpr char kEvents[] = "vek_tool/native_events";

EncodableMap Event(int64_t sequence) {
  return EncodableMap{{EncodableValue("channel"), EncodableValue("serial")},
                      {EncodableValue("seq"), EncodableValue(sequence)}};
}

using ChannelsTest = testing_support::AttachedBridgeTest<FakeBinaryMessenger>;

TEST_F(ChannelsTest, EncodedCallsAreAnsweredWithEncodedReplies) {
  auto now = messenger_.DeliverMethodCall(kMethods, "nowMicros");
  EncodableValue value;
  ASSERT_TRUE(now->DecodeSuccess(&value));
  EXPECT_TRUE(std::holds_alternative<int64_t>(value));

  EncodableMap args{{EncodableValue("path"), EncodableValue("")}};
  auto missing = messenger_.DeliverMethodCall(kMethods, "openHidInput",
                                              std::make_unique<EncodableValue>(args));
  std::string code;
  std::string message;
  EncodableValue details;
  ASSERT_TRUE(missing->DecodeError(&code, &message, &details));
  EXPECT_EQ(code, "hid-invalid-path");
  EXPECT_EQ(message, "缺少 path 参数");
  EXPECT_TRUE(details.IsNull());

  auto unknown = messenger_.DeliverMethodCall(kMethods, "noSuchMethod");
  EXPECT_EQ(unknown->reply_count, 1);
  EXPECT_TRUE(unknown->reply.empty());  // not implemented
}

TEST_F(ChannelsTest, ListenTwiceSendsToOneStreamAndCancelWithoutListenIsHarmless) {
  auto cancel = messenger_.DeliverMethodCall(kEvents, "cancel");
  EXPECT_EQ(cancel->reply_count, 1);
  messenger_.DeliverMethodCall(kEvents, "listen");
  messenger_.DeliverMethodCall(kEvents, "listen");
  messenger_.ClearSent();
  bridge_.EmitEvent(Event(1));
  poster_.Pump(bridge_);
  auto events = messenger_.SentEvents(kEvents);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], EncodableValue(Event(1)));

  messenger_.DeliverMethodCall(kEvents, "cancel");
  messenger_.ClearSent();
  bridge_.EmitEvent(Event(2));
  poster_.Pump(bridge_);
  EXPECT_TRUE(messenger_.SentEvents(kEvents).empty());
}

TEST_F(ChannelsTest, DetachRemovesBothChannelsAndAttachTwiceLeavesOneSet) {
  EXPECT_TRUE(messenger_.HasHandler(kMethods));
  EXPECT_TRUE(messenger_.HasHandler(kEvents));
  bridge_.Attach(&messenger_, FakeWindow());
  EXPECT_TRUE(messenger_.HasHandler(kMethods));
  bridge_.Detach();
  EXPECT_FALSE(messenger_.HasHandler(kMethods));
  EXPECT_FALSE(messenger_.HasHandler(kEvents));
}

}  // namespace
}  // namespace vek_native
