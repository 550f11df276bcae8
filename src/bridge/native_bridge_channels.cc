// Binding the bridge to the engine: the method channel "vek_tool/native" and
// the event channel "vek_tool/native_events", both with the standard codec.
#include <memory>

#include "bridge/native_bridge.h"
#include "channels/event_channel.h"
#include "channels/method_channel.h"
#include "channels/standard_codec.h"
#include "channels/stream_handler.h"

namespace vek_native {

struct NativeBridge::Channels {
  std::unique_ptr<MethodChannel> methods;
  std::unique_ptr<EventChannel> events;
};

void NativeBridge::ChannelsDeleter::operator()(Channels* channels) const {
  // Handlers go first, so nothing reaches the bridge through a channel that
  // is being deleted.
  if (channels->events) channels->events->SetStreamHandler(nullptr);
  if (channels->methods) channels->methods->SetMethodCallHandler(nullptr);
  delete channels;
}

void NativeBridge::BindChannels(BinaryMessenger* messenger) {
  const StandardMethodCodec* codec = &StandardMethodCodec::GetInstance();
  std::unique_ptr<Channels, ChannelsDeleter> channels(new Channels());
  channels->methods = std::make_unique<MethodChannel>(messenger, "vek_tool/native", codec);
  // The handlers reach the bridge through `this`: the bridge owns the
  // channels and removes the handlers before it lets them go.
  channels->methods->SetMethodCallHandler(
      [this](const MethodCall& call, std::unique_ptr<MethodResult> result) {
        HandleMethodCall(call, std::move(result));
      });
  channels->events = std::make_unique<EventChannel>(messenger, "vek_tool/native_events", codec);
  channels->events->SetStreamHandler(std::make_unique<StreamHandlerFunctions>(
      [this](const EncodableValue*,
             std::unique_ptr<EventSink>&& sink) -> std::unique_ptr<StreamHandlerError> {
        OnListen(std::move(sink));
        return nullptr;
      },
      [this](const EncodableValue*) -> std::unique_ptr<StreamHandlerError> {
        OnCancel();
        return nullptr;
      }));
  channels_ = std::move(channels);
}

}  // namespace vek_native
