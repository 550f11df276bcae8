#ifndef VEK_CHANNELS_STREAM_HANDLER_H_
#define VEK_CHANNELS_STREAM_HANDLER_H_

#include <functional>
#include <memory>
#include <string>

#include "channels/encodable_value.h"
#include "channels/event_sink.h"

namespace vek_native {

struct StreamHandlerError {
  StreamHandlerError(std::string code, std::string message,
                     std::unique_ptr<EncodableValue> details = nullptr)
      : error_code(std::move(code)),
        error_message(std::move(message)),
        error_details(std::move(details)) {}
  std::string error_code;
  std::string error_message;
  std::unique_ptr<EncodableValue> error_details;
};

// Receives "listen" and "cancel" of an event channel.
class StreamHandler {
 public:
  StreamHandler() = default;
  virtual ~StreamHandler() = default;
  StreamHandler(const StreamHandler&) = delete;
  StreamHandler& operator=(const StreamHandler&) = delete;

  std::unique_ptr<StreamHandlerError> OnListen(const EncodableValue* arguments,
                                               std::unique_ptr<EventSink>&& events) {
    return OnListenInternal(arguments, std::move(events));
  }
  std::unique_ptr<StreamHandlerError> OnCancel(const EncodableValue* arguments) {
    return OnCancelInternal(arguments);
  }

 protected:
  virtual std::unique_ptr<StreamHandlerError> OnListenInternal(
      const EncodableValue* arguments, std::unique_ptr<EventSink>&& events) = 0;
  virtual std::unique_ptr<StreamHandlerError> OnCancelInternal(const EncodableValue* arguments) = 0;
};

using StreamHandlerListen = std::function<std::unique_ptr<StreamHandlerError>(
    const EncodableValue* arguments, std::unique_ptr<EventSink>&& events)>;
using StreamHandlerCancel =
    std::function<std::unique_ptr<StreamHandlerError>(const EncodableValue* arguments)>;

// A StreamHandler made of two callables; a missing one answers an error.
class StreamHandlerFunctions : public StreamHandler {
 public:
  StreamHandlerFunctions(StreamHandlerListen on_listen, StreamHandlerCancel on_cancel)
      : on_listen_(std::move(on_listen)), on_cancel_(std::move(on_cancel)) {}

 protected:
  std::unique_ptr<StreamHandlerError> OnListenInternal(
      const EncodableValue* arguments, std::unique_ptr<EventSink>&& events) override {
    if (on_listen_) return on_listen_(arguments, std::move(events));
    return std::make_unique<StreamHandlerError>("error", "No OnListen handler set");
  }
  std::unique_ptr<StreamHandlerError> OnCancelInternal(const EncodableValue* arguments) override {
    if (on_cancel_) return on_cancel_(arguments);
    return std::make_unique<StreamHandlerError>("error", "No OnCancel handler set");
  }

 private:
  StreamHandlerListen on_listen_;
  StreamHandlerCancel on_cancel_;
};

}  // namespace vek_native

#endif  // VEK_CHANNELS_STREAM_HANDLER_H_
