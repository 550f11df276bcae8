// Binds the host to the product's native modules: the bridge with every
// feature's operations, raw input, and the helper modes.
#ifndef VEK_HOST_PRODUCT_WIRING_H_
#define VEK_HOST_PRODUCT_WIRING_H_

#include "host/flutter_window_win.h"
#include "capture/helper_mode_operations.h"

namespace vek_native {

// Fills the bridge's operation table and returns the window's hooks into the
// bridge and raw input.
FlutterWindowHooks WireProduct();

HelperModeOperations ProductHelperModes();

}  // namespace vek_native

#endif  // VEK_HOST_PRODUCT_WIRING_H_
