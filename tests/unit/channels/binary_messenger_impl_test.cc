#include "channels/binary_messenger_impl.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/fake_flutter_messenger.h"

namespace vek_native {
namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

constexpr char kChannel[] = "vek_tool/native";

class BinaryMessengerImplTest : public testing::Test {
 protected:
  // Installs a handler that keeps the reply callable of each message.
  void InstallParkingHandler() {
    messenger_.SetMessageHandler(kChannel,
                                 [this](const uint8_t* message, size_t size, BinaryReply reply) {
                                   received_.emplace_back(message, message + size);
                                   replies_.push_back(std::move(reply));
                                 });
  }

  FlutterDesktopMessenger engine_;
  BinaryMessengerImpl messenger_{&engine_};
  std::vector<std::vector<uint8_t>> received_;
  std::vector<BinaryReply> replies_;
};

TEST_F(BinaryMessengerImplTest, IncomingMessageIsAnsweredOnceUnderTheLock) {
  InstallParkingHandler();
  int handle = fake_engine::Deliver(&engine_, kChannel, {1, 2, 3});
  ASSERT_NE(handle, 0);
  ASSERT_EQ(received_.size(), 1u);
  EXPECT_EQ(received_[0], (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(engine_.ref_count, 2);  // the pending reply holds the messenger

  // Replied from another thread, as a job's reply could be.
  std::thread([reply = replies_[0]] {
    const uint8_t answer[] = {0, 0};
    reply(answer, sizeof answer);
  }).join();
  EXPECT_EQ(fake_engine::ResponsesFor(engine_, handle),
            (std::vector<std::vector<uint8_t>>{{0, 0}}));
  EXPECT_EQ(engine_.responses_sent_unlocked, 0);
  EXPECT_EQ(engine_.lock_depth, 0);
  replies_.clear();
  EXPECT_EQ(engine_.ref_count, 1);
}

// Copies of one reply callable share the handle: the second answer through
// any copy is refused.
TEST_F(BinaryMessengerImplTest, SecondResponseIsRefusedEvenThroughACopy) {
  InstallParkingHandler();
  int handle = fake_engine::Deliver(&engine_, kChannel, {});
  BinaryReply copy = replies_[0];
  replies_[0](nullptr, 0);
  CaptureStderr();
  copy(nullptr, 0);
  EXPECT_EQ(GetCapturedStderr(),
            "Error: Response can be set only once. Ignoring duplicate response.\n");
  EXPECT_EQ(fake_engine::ResponsesFor(engine_, handle).size(), 1u);
  EXPECT_EQ(engine_.lock_depth, 0);
}

TEST_F(BinaryMessengerImplTest, ReplyAfterTheEngineIsGoneIsDroppedSilently) {
  InstallParkingHandler();
  fake_engine::Deliver(&engine_, kChannel, {});
  engine_.available = false;
  CaptureStderr();
  replies_[0](nullptr, 0);
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_TRUE(engine_.responses.empty());
  EXPECT_EQ(engine_.lock_depth, 0);
}

TEST_F(BinaryMessengerImplTest, SendUsesTheReplyVariantOnlyWithAReply) {
  const uint8_t message[] = {7, 0};
  messenger_.Send("events", message, sizeof message);
  std::vector<uint8_t> answer;
  int answers = 0;
  messenger_.Send("calls", message, sizeof message, [&](const uint8_t* data, size_t size) {
    answer.assign(data, data + size);
    ++answers;
  });
  ASSERT_EQ(engine_.sent.size(), 2u);
  EXPECT_EQ(engine_.sent[0].channel, "events");
  EXPECT_EQ(engine_.sent[0].reply, nullptr);
  EXPECT_EQ(engine_.sent[1].channel, "calls");
  ASSERT_NE(engine_.sent[1].reply, nullptr);
  const uint8_t response[] = {0, 1};
  engine_.sent[1].reply(response, sizeof response, engine_.sent[1].reply_user_data);
  EXPECT_EQ(answers, 1);
  EXPECT_EQ(answer, (std::vector<uint8_t>{0, 1}));
}

TEST_F(BinaryMessengerImplTest, RefusedSendDoesNotLeakTheReply) {
  engine_.refuse_sends = true;
  auto marker = std::make_shared<int>(0);
  messenger_.Send("calls", nullptr, 0, [marker](const uint8_t*, size_t) {});
  EXPECT_EQ(marker.use_count(), 1);
}

TEST_F(BinaryMessengerImplTest, HandlerCanBeReplacedAndRemoved) {
  std::string log;
  messenger_.SetMessageHandler(kChannel, [&](const uint8_t*, size_t, const BinaryReply& reply) {
    log += "first;";
    reply(nullptr, 0);
  });
  messenger_.SetMessageHandler(kChannel, [&](const uint8_t*, size_t, const BinaryReply& reply) {
    log += "second;";
    reply(nullptr, 0);
  });
  fake_engine::Deliver(&engine_, kChannel, {});
  EXPECT_EQ(log, "second;");
  messenger_.SetMessageHandler(kChannel, nullptr);
  EXPECT_EQ(engine_.callbacks.count(kChannel), 0u);
  EXPECT_EQ(fake_engine::Deliver(&engine_, kChannel, {}), 0);
}

}  // namespace
}  // namespace vek_native
