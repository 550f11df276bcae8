#include "channels/method_channel.h"

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

constexpr char kChannel[] = "vek_tool/native";

class MethodChannelTest : public testing::Test {
 protected:
  FakeBinaryMessenger messenger_;
  MethodChannel channel_{&messenger_, kChannel, &StandardMethodCodec::GetInstance()};
};

TEST_F(MethodChannelTest, CallReachesHandlerAndItsReplyComesBack) {
  std::string seen_method;
  EncodableValue seen_arguments;
  channel_.SetMethodCallHandler([&](const MethodCall& call, std::unique_ptr<MethodResult> result) {
    seen_method = call.method_name();
    seen_arguments = *call.arguments();
    result->Success(EncodableValue(int64_t{7}));
  });
  auto delivery =
      messenger_.DeliverMethodCall(kChannel, "nowMicros", std::make_unique<EncodableValue>("x"));
  EXPECT_EQ(seen_method, "nowMicros");
  EXPECT_EQ(seen_arguments, EncodableValue("x"));
  EXPECT_EQ(delivery->reply_count, 1);
  EXPECT_EQ(ToHex(delivery->reply), "00040700000000000000");
}

TEST_F(MethodChannelTest, MessageThatIsNoCallIsAnsweredEmptyWithoutTheHandler) {
  bool called = false;
  channel_.SetMethodCallHandler(
      [&](const MethodCall&, std::unique_ptr<MethodResult>) { called = true; });
  CaptureStderr();
  auto delivery = messenger_.Deliver(kChannel, FromHex("032a00000000"));
  EXPECT_EQ(GetCapturedStderr(),
            "Invalid method call; method name is not a string.\n"
            "Unable to construct method call from message on channel vek_tool/native\n");
  EXPECT_FALSE(called);
  EXPECT_EQ(delivery->reply_count, 1);
  EXPECT_TRUE(delivery->reply.empty());
}

// Every way of answering, and the faults the one-reply rule catches.
TEST_F(MethodChannelTest, OneReplyRule) {
  struct Case {
    const char* name;
    std::function<void(MethodResult&)> answer;
    std::string reply_hex;
    int replies;
    std::string diagnostics;
  };
  const std::string kDuplicate =
      "Error: Only one of Success, Error, or NotImplemented can be called, and it can be called "
      "exactly once. Ignoring duplicate result.\n";
  const std::vector<Case> cases = {
      {"success", [](MethodResult& r) { r.Success(); }, "0000", 1, ""},
      {"error without message", [](MethodResult& r) { r.Error("hid-invalid-path"); },
       "0107106869642d696e76616c69642d706174680000", 1, ""},
      {"not implemented", [](MethodResult& r) { r.NotImplemented(); }, "", 1, ""},
      {"success then error",
       [](MethodResult& r) {
         r.Success(EncodableValue(true));
         r.Error("late", "x");
       },
       "0001", 1, kDuplicate},
      {"error then not implemented",
       [](MethodResult& r) {
         r.Error("e", "m");
         r.NotImplemented();
       },
       "0107016507016d00", 1, kDuplicate},
      {"never answered", [](MethodResult&) {}, "", 0,
       "Warning: Failed to respond to a message. This is a memory leak.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    channel_.SetMethodCallHandler(
        [&](const MethodCall&, std::unique_ptr<MethodResult> result) { c.answer(*result); });
    CaptureStderr();
    auto delivery = messenger_.DeliverMethodCall(kChannel, "m");
    EXPECT_EQ(GetCapturedStderr(), c.diagnostics);
    EXPECT_EQ(delivery->reply_count, c.replies);
    EXPECT_EQ(ToHex(delivery->reply), c.reply_hex);
  }
}

TEST_F(MethodChannelTest, ResultMayBeAnsweredLater) {
  std::unique_ptr<MethodResult> parked;
  channel_.SetMethodCallHandler(
      [&](const MethodCall&, std::unique_ptr<MethodResult> result) { parked = std::move(result); });
  auto delivery = messenger_.DeliverMethodCall(kChannel, "saveReport");
  EXPECT_FALSE(delivery->replied());
  parked->Error("dialog-failed", "x", EncodableValue(int32_t{1}));
  std::string code, message;
  EncodableValue details;
  ASSERT_TRUE(delivery->DecodeError(&code, &message, &details));
  EXPECT_EQ(code, "dialog-failed");
  EXPECT_EQ(message, "x");
  EXPECT_EQ(details, EncodableValue(int32_t{1}));
}

TEST_F(MethodChannelTest, ClearingTheHandlerRemovesIt) {
  channel_.SetMethodCallHandler(
      [](const MethodCall&, std::unique_ptr<MethodResult> r) { r->Success(); });
  EXPECT_TRUE(messenger_.HasHandler(kChannel));
  channel_.SetMethodCallHandler(nullptr);
  EXPECT_FALSE(messenger_.HasHandler(kChannel));
}

TEST_F(MethodChannelTest, InvokeMethodDecodesTheReply) {
  class Recorder : public MethodResult {
   public:
    explicit Recorder(std::string* log) : log_(log) {}

   protected:
    void SuccessInternal(const EncodableValue* v) override { *log_ += "ok:" + Render(*v); }
    void ErrorInternal(const std::string& c, const std::string& m, const EncodableValue*) override {
      *log_ += "error:" + c + "/" + m;
    }
    void NotImplementedInternal() override { *log_ += "not-implemented"; }

   private:
    std::string* log_;
  };
  std::string log;
  channel_.InvokeMethod("ping", nullptr, std::make_unique<Recorder>(&log));
  channel_.InvokeMethod("ping", nullptr, std::make_unique<Recorder>(&log));
  ASSERT_EQ(messenger_.sent().size(), 2u);
  EXPECT_EQ(ToHex(messenger_.sent()[0].message), "070470696e6700");
  messenger_.AnswerSent(0, *StandardMethodCodec::GetInstance().EncodeErrorEnvelope("e", "m"));
  messenger_.AnswerSent(1, {});
  EXPECT_EQ(log, "error:e/mnot-implemented");
}

}  // namespace
}  // namespace vek_native
