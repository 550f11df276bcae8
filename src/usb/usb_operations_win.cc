#include "capture/elevated_helper.h"
#include "capture/file_system.h"
#include "common/clock.h"
#include "hid/device_tree.h"
#include "hid/hub_api.h"
#include "usb/usb_operations.h"

namespace vek_native {
namespace {

UsbResetContext SystemResetContext() {
  UsbResetContext context;
  context.tree = &WindowsDeviceTree();
  context.hubs = &WindowsUsbHubApi();
  context.fs = &SystemFileSystem();
  context.launcher = &SystemProcessLauncher();
  context.now_micros = [] { return NowMicros(); };
  return context;
}

}  // namespace

void PlugUsbOperations(BridgeOperations& operations) {
  operations.reset_usb_device = [](const std::string& usb_instance_id, EncodableValue* value,
                                   bool* cancelled, std::string* message) {
    UsbResetResult result;
    const bool ok =
        ResetUsbDevice(SystemResetContext(), usb_instance_id, &result, cancelled, message);
    if (ok) *value = UsbResetResultMap(result);
    return ok;
  };
}

void PlugResetUsbHelperMode(HelperModeOperations& modes) {
  modes.reset_usb_device = [](const std::string& usb_instance_id,
                              const std::string& out_file_path) {
    return RunResetUsbDeviceHelperMode(SystemResetContext(), usb_instance_id, out_file_path);
  };
}

}  // namespace vek_native
