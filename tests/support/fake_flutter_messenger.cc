// Defined here as the engine library defines them for export.
#define FLUTTER_DESKTOP_LIBRARY
#include "support/fake_flutter_messenger.h"

#include <memory>

// Response handles are allocated per delivery and, as in the engine, belong to
// the engine once the response is sent.
struct _FlutterPlatformMessageResponseHandle {
  int id;
};

namespace {

std::vector<std::unique_ptr<_FlutterPlatformMessageResponseHandle>>& Handles() {
  static std::vector<std::unique_ptr<_FlutterPlatformMessageResponseHandle>> handles;
  return handles;
}

}  // namespace

extern "C" {

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger, const char* channel,
                                 const uint8_t* message, const size_t message_size) {
  if (messenger->refuse_sends || !messenger->available) return false;
  FlutterDesktopMessenger::Sent sent;
  sent.channel = channel;
  if (message_size > 0) sent.message.assign(message, message + message_size);
  messenger->sent.push_back(sent);
  return true;
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger, const char* channel,
                                          const uint8_t* message, const size_t message_size,
                                          const FlutterDesktopBinaryReply reply, void* user_data) {
  if (messenger->refuse_sends || !messenger->available) return false;
  FlutterDesktopMessenger::Sent sent;
  sent.channel = channel;
  if (message_size > 0) sent.message.assign(message, message + message_size);
  sent.reply = reply;
  sent.reply_user_data = user_data;
  messenger->sent.push_back(sent);
  return true;
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef messenger,
                                         const FlutterDesktopMessageResponseHandle* handle,
                                         const uint8_t* data, size_t data_length) {
  if (messenger->lock_depth == 0) ++messenger->responses_sent_unlocked;
  FlutterDesktopMessenger::Response response;
  response.handle_id = handle->id;
  if (data_length > 0) response.data.assign(data, data + data_length);
  messenger->responses.push_back(response);
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
  if (messenger->lock_depth > messenger->max_lock_depth) {
    messenger->max_lock_depth = messenger->lock_depth;
  }
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
  Handles().push_back(std::make_unique<_FlutterPlatformMessageResponseHandle>());
  _FlutterPlatformMessageResponseHandle* handle = Handles().back().get();
  handle->id = messenger->next_handle_id++;
  FlutterDesktopMessage incoming = {};
  incoming.struct_size = sizeof incoming;
  incoming.channel = channel.c_str();
  incoming.message = message.data();
  incoming.message_size = message.size();
  incoming.response_handle = handle;
  FlutterDesktopMessenger::Callback callback = it->second;
  callback.callback(messenger, &incoming, callback.user_data);
  return handle->id;
}

std::vector<std::vector<uint8_t>> ResponsesFor(const FlutterDesktopMessenger& messenger,
                                               int handle_id) {
  std::vector<std::vector<uint8_t>> found;
  for (const auto& response : messenger.responses) {
    if (response.handle_id == handle_id) found.push_back(response.data);
  }
  return found;
}

}  // namespace fake_engine
}  // namespace vek_native
