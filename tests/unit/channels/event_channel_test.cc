#include "channels/event_channel.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/fake_binary_messenger.h"
#include "unit/channels/codec_test_util.h"

namespace vek_native {
namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

constexpr char kChannel[] = "vek_tool/native_events";

class EventChannelTest : public testing::Test {
 protected:
  // Installs a handler that logs listen/cancel with their arguments and keeps
  // the sink; `listen_error`/`cancel_error` make it fail.
  void InstallHandler(bool listen_error = false, bool cancel_error = false) {
    channel_.SetStreamHandler(std::make_unique<StreamHandlerFunctions>(
        [this, listen_error](const EncodableValue* arguments, std::unique_ptr<EventSink>&& sink)
            -> std::unique_ptr<StreamHandlerError> {
          log_.push_back("listen " + (arguments ? Render(*arguments) : std::string("none")));
          sink_ = std::move(sink);
          if (listen_error) return std::make_unique<StreamHandlerError>("busy", "no");
          return nullptr;
        },
        [this,
         cancel_error](const EncodableValue* arguments) -> std::unique_ptr<StreamHandlerError> {
          log_.push_back("cancel " + (arguments ? Render(*arguments) : std::string("none")));
          if (cancel_error) return std::make_unique<StreamHandlerError>("stuck", "still");
          return nullptr;
        }));
  }

  std::string ErrorOf(const FakeBinaryMessenger::Delivery& delivery) {
    std::string code, message;
    EncodableValue details;
    if (!delivery.DecodeError(&code, &message, &details)) return "not an error";
    return code + "/" + message;
  }

  FakeBinaryMessenger messenger_;
  EventChannel channel_{&messenger_, kChannel, &StandardMethodCodec::GetInstance()};
  std::vector<std::string> log_;
  std::unique_ptr<EventSink> sink_;
};

TEST_F(EventChannelTest, ListenTwiceCancelsTheRunningStreamFirst) {
  InstallHandler();
  auto first =
      messenger_.DeliverMethodCall(kChannel, "listen", std::make_unique<EncodableValue>(1));
  auto second =
      messenger_.DeliverMethodCall(kChannel, "listen", std::make_unique<EncodableValue>(2));
  EXPECT_EQ(log_, (std::vector<std::string>{"listen i1", "cancel none", "listen i2"}));
  EncodableValue result(true);
  EXPECT_TRUE(first->DecodeSuccess(&result));
  EXPECT_TRUE(second->DecodeSuccess(&result));
  EXPECT_TRUE(result.IsNull());
}

// A cancel with no stream running, before any listen or after the last
// cancel, is refused without reaching the handler.
TEST_F(EventChannelTest, CancelBeforeListenThenListenCancelAndCancelAgain) {
  InstallHandler();
  EXPECT_EQ(ErrorOf(*messenger_.DeliverMethodCall(kChannel, "cancel")),
            "error/No active stream to cancel");
  messenger_.DeliverMethodCall(kChannel, "listen");
  auto cancel =
      messenger_.DeliverMethodCall(kChannel, "cancel", std::make_unique<EncodableValue>("a"));
  EncodableValue result;
  EXPECT_TRUE(cancel->DecodeSuccess(&result));
  auto again = messenger_.DeliverMethodCall(kChannel, "cancel");
  EXPECT_EQ(ErrorOf(*again), "error/No active stream to cancel");
  EXPECT_EQ(log_, (std::vector<std::string>{"listen n", "cancel s61"}));
}

TEST_F(EventChannelTest, HandlerErrorsAreReplied) {
  InstallHandler(/*listen_error=*/true, /*cancel_error=*/true);
  auto listen = messenger_.DeliverMethodCall(kChannel, "listen");
  EXPECT_EQ(ErrorOf(*listen), "busy/no");
  CaptureStderr();
  messenger_.DeliverMethodCall(kChannel, "listen");
  std::string diagnostics = GetCapturedStderr();
  EXPECT_EQ(diagnostics.rfind("Failed to cancel existing stream: stuck, still, ", 0), 0u)
      << diagnostics;
  EXPECT_NE(diagnostics.back(), '\n');
  auto cancel = messenger_.DeliverMethodCall(kChannel, "cancel");
  EXPECT_EQ(ErrorOf(*cancel), "stuck/still");
}

TEST_F(EventChannelTest, MalformedAndUnknownMessagesGetAnEmptyReply) {
  InstallHandler();
  CaptureStderr();
  auto malformed = messenger_.Deliver(kChannel, FromHex("01"));
  EXPECT_EQ(GetCapturedStderr(),
            "Invalid method call; method name is not a string.\n"
            "Unable to construct method call from message on channel: vek_tool/native_events\n");
  EXPECT_EQ(malformed->reply_count, 1);
  EXPECT_TRUE(malformed->reply.empty());
  auto unknown = messenger_.DeliverMethodCall(kChannel, "pause");
  EXPECT_EQ(unknown->reply_count, 1);
  EXPECT_TRUE(unknown->reply.empty());
  EXPECT_TRUE(log_.empty());
}

TEST_F(EventChannelTest, SinkSendsEnvelopesOnTheChannel) {
  InstallHandler();
  messenger_.DeliverMethodCall(kChannel, "listen");
  ASSERT_NE(sink_, nullptr);
  sink_->Success(
      EncodableValue(EncodableMap{{EncodableValue("channel"), EncodableValue("serial")}}));
  sink_->Error("port-lost", "gone");
  sink_->EndOfStream();
  auto sent = messenger_.sent();
  ASSERT_EQ(sent.size(), 3u);
  for (const auto& message : sent) {
    EXPECT_EQ(message.channel, kChannel);
    EXPECT_FALSE(message.expects_reply);
  }
  EXPECT_EQ(ToHex(sent[0].message), "000d0107076368616e6e656c070673657269616c");
  EXPECT_EQ(ToHex(sent[1].message), "010709706f72742d6c6f73740704676f6e6500");
  EXPECT_TRUE(sent[2].message.empty());
}

TEST_F(EventChannelTest, MissingCallablesAnswerErrors) {
  channel_.SetStreamHandler(std::make_unique<StreamHandlerFunctions>(nullptr, nullptr));
  EXPECT_EQ(ErrorOf(*messenger_.DeliverMethodCall(kChannel, "listen")),
            "error/No OnListen handler set");
  EXPECT_EQ(ErrorOf(*messenger_.DeliverMethodCall(kChannel, "cancel")),
            "error/No OnCancel handler set");
}

TEST_F(EventChannelTest, ClearingTheHandlerRemovesIt) {
  InstallHandler();
  channel_.SetStreamHandler(nullptr);
  EXPECT_FALSE(messenger_.HasHandler(kChannel));
}

}  // namespace
}  // namespace vek_native
