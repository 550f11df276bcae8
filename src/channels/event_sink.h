#ifndef VEK_CHANNELS_EVENT_SINK_H_
#define VEK_CHANNELS_EVENT_SINK_H_

#include <string>

#include "channels/encodable_value.h"

namespace vek_native {

// The sending end of an event stream, handed to the stream handler on "listen".
class EventSink {
 public:
  EventSink() = default;
  virtual ~EventSink() = default;
  EventSink(const EventSink&) = delete;
  EventSink& operator=(const EventSink&) = delete;

  void Success(const EncodableValue& event) { SuccessInternal(&event); }
  void Success() { SuccessInternal(nullptr); }
  void Error(const std::string& error_code, const std::string& error_message,
             const EncodableValue& error_details) {
    ErrorInternal(error_code, error_message, &error_details);
  }
  void Error(const std::string& error_code, const std::string& error_message = "") {
    ErrorInternal(error_code, error_message, nullptr);
  }
  void EndOfStream() { EndOfStreamInternal(); }

 protected:
  virtual void SuccessInternal(const EncodableValue* event) = 0;
  virtual void ErrorInternal(const std::string& error_code, const std::string& error_message,
                             const EncodableValue* error_details) = 0;
  virtual void EndOfStreamInternal() = 0;
};

}  // namespace vek_native

#endif  // VEK_CHANNELS_EVENT_SINK_H_
