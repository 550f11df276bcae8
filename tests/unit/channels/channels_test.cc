// The method channel over a recording messenger, and the messenger over the
// engine's C API (a fake engine). The event channel: ChannelsTest in unit_bridge.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "channels/binary_messenger_impl.h"
#include "channels/method_channel.h"
#include "support/fake_binary_messenger.h"
#include "support/fake_flutter_messenger.h"
#include "support/hex.h"
#include "unit/bridge/bridge_test_support.h"

namespace vek_native {
namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using vek_test::FromHex;
using vek_test::ToHex;
using Bytes = std::vector<uint8_t>;

constexpr char kMethods[] = "vek_tool/native";

class MethodChannelTest : public testing::Test {
 protected:
  FakeBinaryMessenger messenger_;
  MethodChannel channel_{&messenger_, kMethods, &StandardMethodCodec::GetInstance()};
};

// Plays a script of answers: s success(7), n success(), d error("e", "m", 1),
// i not implemented.
void Answer(const std::string& script, MethodResult& r) {
  for (char op : script) {
    if (op == 's') r.Success(EncodableValue(int64_t{7}));
    if (op == 'n') r.Success();
    if (op == 'd') r.Error("e", "m", EncodableValue(int32_t{1}));
    if (op == 'i') r.NotImplemented();
  }
}

// Every way of answering, and the faults the one-reply rule catches.
TEST_F(MethodChannelTest, TheHandlersAnswerIsEncodedOnce) {
  const struct {
    const char* script;
    const char* reply_hex;
    int replies;
  } cases[] = {
      {"s", "00040700000000000000", 1},
      {"d", "0107016507016d0301000000", 1},
      {"i", "", 1},
      {"nd", "0000", 1},  // a second answer is ignored
      {"", "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    std::string arguments;
    channel_.SetMethodCallHandler(
        [&](const MethodCall& call, std::unique_ptr<MethodResult> result) {
          arguments = call.method_name() + std::to_string(call.arguments()->LongValue());
          Answer(c.script, *result);
        });
    auto delivery =
        messenger_.DeliverCall(kMethods, "m", std::make_unique<EncodableValue>(int32_t{2}));
    EXPECT_EQ(arguments, "m2");
    EXPECT_EQ(delivery->replies, c.replies);
    EXPECT_EQ(ToHex(delivery->reply), c.reply_hex);
  }
  CaptureStderr();  // a message that is no method call is not implemented
  EXPECT_EQ(messenger_.Deliver(kMethods, {0xFF})->replies, 1);
  GetCapturedStderr();
  channel_.SetMethodCallHandler(nullptr);
  EXPECT_FALSE(messenger_.HasHandler(kMethods));
}

// The product invokes no Dart method; this checks only how a reply is read.
TEST_F(MethodChannelTest, InvokeMethodDecodesTheReply) {
  std::shared_ptr<testing_support::ReplyRecord> records[3];
  const char* replies[] = {"010701650000", "", "0001"};
  for (int i = 0; i < 3; ++i) {
    channel_.InvokeMethod("ping", nullptr, testing_support::Recorder(&records[i]));
    const std::vector<uint8_t> reply = FromHex(replies[i]);
    messenger_.sent.back().reply(reply.data(), reply.size());
  }
  EXPECT_EQ(ToHex(messenger_.sent[0].message), "070470696e6700");
  EXPECT_EQ(records[0]->code, "e");
  EXPECT_EQ(records[1]->kind, testing_support::ReplyRecord::kNotImplemented);
  EXPECT_EQ(records[2]->value, EncodableValue(true));
}

class BinaryMessengerImplTest : public testing::Test {
 protected:
  // Keeps every message and its reply callable.
  void SetUp() override {
    messenger_.SetMessageHandler(kMethods, [this](const uint8_t* data, size_t size, BinaryReply r) {
      received_.emplace_back(data, data + size);
      replies_.push_back(std::move(r));
    });
  }

  FlutterDesktopMessenger engine_;
  BinaryMessengerImpl messenger_{&engine_};
  std::vector<Bytes> received_;
  std::vector<BinaryReply> replies_;
};

TEST_F(BinaryMessengerImplTest, IncomingMessageIsAnsweredOnceUnderTheLockFromAnyThread) {
  const int handle = fake_engine::Deliver(&engine_, kMethods, {1, 2, 3});
  fake_engine::Deliver(&engine_, kMethods, {});
  ASSERT_EQ(received_, (std::vector<Bytes>{{1, 2, 3}, {}}));
  EXPECT_EQ(engine_.ref_count, 3);  // each pending reply holds the messenger
  BinaryReply copy = replies_[0];
  std::thread([&] { replies_[0](Bytes{0, 0}.data(), 2); }).join();
  CaptureStderr();
  copy(nullptr, 0);  // copies share the handle: refused
  EXPECT_EQ(GetCapturedStderr(),
            "Error: Response can be set only once. Ignoring duplicate response.\n");
  engine_.available = false;
  CaptureStderr();
  replies_[1](nullptr, 0);  // the engine is gone: dropped silently
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(engine_.responses, (std::vector<std::pair<int, Bytes>>{{handle, {0, 0}}}));
  EXPECT_EQ(engine_.responses_sent_unlocked, 0);
  EXPECT_EQ(engine_.lock_depth, 0);
  replies_.clear();
  copy = nullptr;
  EXPECT_EQ(engine_.ref_count, 1);
}

// Only events are sent (the product invokes no Dart method), without a reply.
TEST_F(BinaryMessengerImplTest, SendAndAHandlerCanBeRemoved) {
  const uint8_t message[] = {7, 0};
  messenger_.Send("events", message, sizeof message);
  ASSERT_EQ(engine_.sent.size(), 1u);
  EXPECT_EQ(engine_.sent[0].channel, "events");
  EXPECT_EQ(engine_.sent[0].message, Bytes(message, message + 2));

  messenger_.SetMessageHandler(kMethods, nullptr);
  EXPECT_EQ(fake_engine::Deliver(&engine_, kMethods, {}), 0);
}

}  // namespace
}  // namespace vek_native
