#ifndef VEK_CHANNELS_METHOD_CHANNEL_H_
#define VEK_CHANNELS_METHOD_CHANNEL_H_

#include <functional>
#include <memory>
#include <string>

#include "channels/binary_messenger.h"
#include "channels/method_call.h"
#include "channels/method_result.h"
#include "channels/standard_codec.h"

namespace vek_native {

using MethodCallHandler =
    std::function<void(const MethodCall& call, std::unique_ptr<MethodResult> result)>;

// Calls in, one reply each. The messenger and codec must outlive the channel;
// the owner clears the handler before deleting it.
class MethodChannel {
 public:
  MethodChannel(BinaryMessenger* messenger, const std::string& name,
                const StandardMethodCodec* codec)
      : messenger_(messenger), name_(name), codec_(codec) {}
  MethodChannel(const MethodChannel&) = delete;
  MethodChannel& operator=(const MethodChannel&) = delete;
  ~MethodChannel() = default;

  const std::string& name() const { return name_; }

  // nullptr removes the handler. Messages that are no method call are answered
  // as not implemented and never reach the handler.
  void SetMethodCallHandler(MethodCallHandler handler) const;

  // Calls a method on the other side; `result`, if set, receives its reply.
  void InvokeMethod(const std::string& method, std::unique_ptr<EncodableValue> arguments,
                    std::unique_ptr<MethodResult> result = nullptr) const;

 private:
  BinaryMessenger* messenger_;
  std::string name_;
  const StandardMethodCodec* codec_;
};

}  // namespace vek_native

#endif  // VEK_CHANNELS_METHOD_CHANNEL_H_
