// Defined here as the engine library defines them for export.
#define FLUTTER_DESKTOP_LIBRARY
#include "support/fake_flutter_messenger.h"

extern "C" {

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger, const char* channel,
                                          const uint8_t* message, const size_t message_size,
                                          const FlutterDesktopBinaryReply reply, void* user_data) {
  if (!messenger->available) return false;
  messenger->sent.push_back({channel, std::vector<uint8_t>(message, message + message_size)});
  return true;
}

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger, const char* channel,
                                 const uint8_t* message, const size_t message_size) {
  return FlutterDesktopMessengerSendWithReply(messenger, channel, message, message_size, nullptr,
                                              nullptr);
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef messenger,
                                         const FlutterDesktopMessageResponseHandle* handle,
                                         const uint8_t* data, size_t data_length) {
  if (messenger->lock_depth == 0) ++messenger->responses_sent_unlocked;
  messenger->responses.emplace_back(handle->id, std::vector<uint8_t>(data, data + data_length));
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  if (callback == nullptr) {
    messenger->callbacks.erase(channel);
  } else {
    messenger->callbacks[channel] = {callback, user_data};
  }
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger) {
  ++messenger->ref_count;
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  --messenger->ref_count;
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  return messenger->available;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger) {
  ++messenger->lock_depth;
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  --messenger->lock_depth;
}

}  // extern "C"

#ifdef _WIN32
// Code built against the engine header calls through import pointers
// (__imp_<name>), which a DLL's import library would provide. The fake is
// linked into the test program itself, so it provides them.
#define VEK_IMPORT_POINTER(name)        \
  extern "C" {                          \
  decltype(&name) __imp_##name = &name; \
  }
VEK_IMPORT_POINTER(FlutterDesktopMessengerSend)
VEK_IMPORT_POINTER(FlutterDesktopMessengerSendWithReply)
VEK_IMPORT_POINTER(FlutterDesktopMessengerSendResponse)
VEK_IMPORT_POINTER(FlutterDesktopMessengerSetCallback)
VEK_IMPORT_POINTER(FlutterDesktopMessengerAddRef)
VEK_IMPORT_POINTER(FlutterDesktopMessengerRelease)
VEK_IMPORT_POINTER(FlutterDesktopMessengerIsAvailable)
VEK_IMPORT_POINTER(FlutterDesktopMessengerLock)
VEK_IMPORT_POINTER(FlutterDesktopMessengerUnlock)
#undef VEK_IMPORT_POINTER
#endif

namespace vek_native {
namespace fake_engine {

int Deliver(FlutterDesktopMessenger* messenger, const std::string& channel,
            const std::vector<uint8_t>& message) {
  auto it = messenger->callbacks.find(channel);
  if (it == messenger->callbacks.end()) return 0;
  const int id = static_cast<int>(messenger->handles.size()) + 1;
  messenger->handles.push_back({id});
  const FlutterDesktopMessage incoming = {sizeof(FlutterDesktopMessage), channel.c_str(),
                                          message.data(), message.size(),
                                          &messenger->handles.back()};
  const auto callback = it->second;  // the callback may replace itself
  callback.first(messenger, &incoming, callback.second);
  return id;
}

}  // namespace fake_engine
}  // namespace vek_native
