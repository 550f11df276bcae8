// What the Windows-layer bridge tests share: a test window, a message loop
// that runs until a condition holds, and a bridge wired as the product wires
// its own window-side operations (key block, save dialog).
#ifndef VEK_TESTS_WIN_BRIDGE_OWN_OPERATIONS_BRIDGE_H_
#define VEK_TESTS_WIN_BRIDGE_OWN_OPERATIONS_BRIDGE_H_

#include <windows.h>

#include <chrono>

#include "bridge/bridge_own_operations.h"
#include "bridge/native_bridge.h"
#include "bridge/window_poster.h"

namespace vek_native {

// A window of its own class `name` served by `proc` (message-only when
// `parent` is HWND_MESSAGE).
inline HWND CreateTestWindow(const wchar_t* name, WNDPROC proc, DWORD style,
                             HWND parent = nullptr) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = proc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = name;
  RegisterClassW(&window_class);  // fails harmlessly when already registered
  return CreateWindowExW(0, name, name, style, 100, 100, 400, 300, parent, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

// Dispatches this thread's messages until `done` holds or `limit` passed.
template <typename Done>
bool PumpMessagesUntil(Done done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < end) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
  return done();
}

inline void AttachWithOwnOperations(NativeBridge& bridge, BinaryMessenger* messenger, HWND window) {
  BridgeOperations ops;
  PlugBridgeOwnOperations(ops);
  bridge.SetOperations(ops);
  bridge.SetPoster(&Win32WindowPoster());
  bridge.Attach(messenger, window);
}

}  // namespace vek_native

#endif  // VEK_TESTS_WIN_BRIDGE_OWN_OPERATIONS_BRIDGE_H_
