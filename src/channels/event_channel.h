#ifndef VEK_CHANNELS_EVENT_CHANNEL_H_
#define VEK_CHANNELS_EVENT_CHANNEL_H_

#include <memory>
#include <string>

#include "channels/binary_messenger.h"
#include "channels/event_sink.h"
#include "channels/standard_codec.h"
#include "channels/stream_handler.h"

namespace vek_native {

// A stream of events out, opened by "listen" and closed by "cancel" from the
// other side. The messenger and codec must outlive the channel and every sink
// it hands out; the owner clears the handler before deleting it.
class EventChannel {
 public:
  EventChannel(BinaryMessenger* messenger, const std::string& name,
               const StandardMethodCodec* codec)
      : messenger_(messenger), name_(name), codec_(codec) {}
  EventChannel(const EventChannel&) = delete;
  EventChannel& operator=(const EventChannel&) = delete;
  ~EventChannel() = default;

  const std::string& name() const { return name_; }

  // nullptr removes the handler.
  void SetStreamHandler(std::unique_ptr<StreamHandler> handler);

  // Sends events on the channel's name, with no reply expected.
  class EventSinkImplementation : public EventSink {
   public:
    EventSinkImplementation(BinaryMessenger* messenger, const std::string& name,
                            const StandardMethodCodec* codec)
        : messenger_(messenger), name_(name), codec_(codec) {}

   protected:
    void SuccessInternal(const EncodableValue* event) override;
    void ErrorInternal(const std::string& error_code, const std::string& error_message,
                       const EncodableValue* error_details) override;
    void EndOfStreamInternal() override;

   private:
    BinaryMessenger* messenger_;
    std::string name_;
    const StandardMethodCodec* codec_;
  };

 private:
  // Shared with the installed binary handler, which may run after this object
  // has moved its handler on; holds the is-listening flag.
  struct State {
    bool is_listening = false;
  };

  BinaryMessenger* messenger_;
  std::string name_;
  const StandardMethodCodec* codec_;
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace vek_native

#endif  // VEK_CHANNELS_EVENT_CHANNEL_H_
