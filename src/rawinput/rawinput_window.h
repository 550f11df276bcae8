// The process-wide raw input capture, as the host window and the bridge reach
// it. Every function runs on the host window's thread (a capture started with
// "ownThread" runs on a thread of its own besides). Windows only.
//
// The host window's message handler:
//   case WM_INPUT:  HandleRawInputMessage(wparam, lparam);  then default processing
//   case WM_TIMER:  if (wparam == kRawInputTimerId) { HandleRawInputTimer(); return 0; }
#ifndef VEK_RAWINPUT_RAWINPUT_WINDOW_H_
#define VEK_RAWINPUT_RAWINPUT_WINDOW_H_

#include <cstdint>
#include <string>

#include "bridge/bridge_operations.h"
#include "rawinput/rawinput_capture.h"  // kRawInputTimerId

namespace vek_native {

void HandleRawInputMessage(uintptr_t wparam, intptr_t lparam);
void HandleRawInputTimer();

// The window raw input registers with and whose timer it uses (null at
// detach). Nothing else happens.
void SetRawInputWindow(WindowHandle window);
// "startRawInput": false with the message for "raw-input-start-failed".
bool StartRawInput(const RawInputOptions& options, std::string* message);
// "stopRawInput" and the bridge's detach: pending events go out as a last batch.
void StopRawInput();

}  // namespace vek_native

#endif  // VEK_RAWINPUT_RAWINPUT_WINDOW_H_
