// The engine's binary messenger, C API. Names, types and signatures are those
// of Flutter's public Windows engine header of the same name, so the program
// builds unchanged against the real engine or our headless stand-in.
#ifndef FLUTTER_SHELL_PLATFORM_COMMON_PUBLIC_FLUTTER_MESSENGER_H_
#define FLUTTER_SHELL_PLATFORM_COMMON_PUBLIC_FLUTTER_MESSENGER_H_

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "flutter_export.h"

#if defined(__cplusplus)
extern "C" {
#endif

// Opaque reference to the engine's messenger.
typedef struct FlutterDesktopMessenger* FlutterDesktopMessengerRef;

// Opaque handle naming the one response an incoming message is owed.
typedef struct _FlutterPlatformMessageResponseHandle FlutterDesktopMessageResponseHandle;

// Receives the response to a message sent with a reply.
typedef void (*FlutterDesktopBinaryReply)(const uint8_t* data, size_t data_size, void* user_data);

// A message from the Flutter side.
typedef struct {
  // Size of this struct as filled in by the engine.
  size_t struct_size;
  // The channel the message arrived on.
  const char* channel;
  // The message bytes and their count.
  const uint8_t* message;
  size_t message_size;
  // When not null, FlutterDesktopMessengerSendResponse must be called exactly
  // once with it.
  const FlutterDesktopMessageResponseHandle* response_handle;
} FlutterDesktopMessage;

// Called for each message on a channel, with the user data given when the
// callback was registered.
typedef void (*FlutterDesktopMessageCallback)(FlutterDesktopMessengerRef /* messenger */,
                                              const FlutterDesktopMessage* /* message */,
                                              void* /* user data */);

// Sends a message on a channel, with no response expected.
FLUTTER_EXPORT bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger,
                                                const char* channel, const uint8_t* message,
                                                const size_t message_size);

// Sends a message on a channel; `reply` receives the response.
FLUTTER_EXPORT bool FlutterDesktopMessengerSendWithReply(
    FlutterDesktopMessengerRef messenger, const char* channel, const uint8_t* message,
    const size_t message_size, const FlutterDesktopBinaryReply reply, void* user_data);

// Sends the response to an incoming message; `handle` is invalid afterwards.
FLUTTER_EXPORT void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef messenger, const FlutterDesktopMessageResponseHandle* handle,
    const uint8_t* data, size_t data_length);

// Registers (or, with a null callback, removes) the callback of a channel,
// replacing any earlier one.
FLUTTER_EXPORT void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger,
                                                       const char* channel,
                                                       FlutterDesktopMessageCallback callback,
                                                       void* user_data);

// Takes a reference to the messenger (thread-safe); returns it.
FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger);

// Drops a reference taken with FlutterDesktopMessengerAddRef (thread-safe).
FLUTTER_EXPORT void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger);

// True while the messenger still belongs to a running engine. Off the platform
// thread, ask inside FlutterDesktopMessengerLock before any other call.
FLUTTER_EXPORT bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger);

// Locks the messenger so that its availability cannot change; returns it.
FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger);

// Releases FlutterDesktopMessengerLock.
FLUTTER_EXPORT void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger);

#if defined(__cplusplus)
}  // extern "C"
#endif

#endif  // FLUTTER_SHELL_PLATFORM_COMMON_PUBLIC_FLUTTER_MESSENGER_H_
