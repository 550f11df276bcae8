// A bridge wired as the product wires its own window-side operations (key
// block, save dialog) and attached to a real window with the Win32 poster.
#ifndef VEK_TESTS_WIN_BRIDGE_OWN_OPERATIONS_BRIDGE_H_
#define VEK_TESTS_WIN_BRIDGE_OWN_OPERATIONS_BRIDGE_H_

#include <windows.h>

#include "bridge/bridge_own_operations.h"
#include "bridge/native_bridge.h"
#include "bridge/window_poster.h"

namespace vek_native {

inline void AttachWithOwnOperations(NativeBridge& bridge, BinaryMessenger* messenger, HWND window) {
  BridgeOperations ops;
  PlugBridgeOwnOperations(ops);
  bridge.SetOperations(ops);
  bridge.SetPoster(&Win32WindowPoster());
  bridge.Attach(messenger, window);
}

}  // namespace vek_native

#endif  // VEK_TESTS_WIN_BRIDGE_OWN_OPERATIONS_BRIDGE_H_
