// Stand-in until the channel layer's method and event channels are built:
// the bridge binds no channels, so calls reach it only directly.
#include "bridge/native_bridge.h"

namespace vek_native {

struct NativeBridge::Channels {};

void NativeBridge::ChannelsDeleter::operator()(Channels* channels) const { delete channels; }

void NativeBridge::BindChannels(BinaryMessenger* messenger) { channels_.reset(new Channels()); }

}  // namespace vek_native
