#include "capture/elevated_helper.h"
#include "capture/file_system.h"
#include "common/clock.h"
#include "hid/device_tree.h"
#include "hid/hid_device_api.h"
#include "hid/hub_api.h"
#include "usb/usb_operations.h"
#include "usb/usb_port.h"

#include <memory>
#include <string>

namespace vek_native {
namespace {

UsbDiagnosticsSystem SystemDiagnostics() {
  UsbDiagnosticsSystem system;
  system.nodes.tree = &WindowsDeviceTree();
  system.nodes.properties = &WindowsDevNodeProperties();
  system.nodes.source = &WindowsUsbNodeSource();
  system.hubs = &WindowsUsbHubApi();
  system.hid = &WindowsHidDeviceApi();
  return system;
}

}  // namespace

UsbResetContext SystemUsbResetContext() {
  UsbResetContext context;
  context.tree = &WindowsDeviceTree();
  context.hubs = &WindowsUsbHubApi();
  context.fs = &SystemFileSystem();
  context.launcher = &SystemProcessLauncher();
  context.now_micros = [] { return NowMicros(); };
  return context;
}

void PlugUsbOperations(BridgeOperations& operations) {
  operations.list_usb_device_nodes = [](bool include_hid_children, EncodableValue* nodes,
                                        std::string* message) {
    return ListUsbDeviceNodeMaps(SystemDiagnostics().nodes, include_hid_children, nodes, message);
  };
  operations.read_usb_device_diagnostics = [](const std::string& instance_id,
                                              EncodableValue* report, std::string* message) {
    return ReadUsbDiagnosticsMap(SystemDiagnostics(), instance_id, report, message);
  };
  operations.reset_usb_device = [](const std::string& usb_instance_id, EncodableValue* value,
                                   bool* cancelled, std::string* message) {
    UsbResetResult result;
    const bool ok =
        ResetUsbDevice(SystemUsbResetContext(), usb_instance_id, &result, cancelled, message);
    if (ok) *value = UsbResetResultMap(result);
    return ok;
  };
}

void PlugResetUsbHelperMode(HelperModeOperations& modes) {
  modes.reset_usb_device = [](const std::string& usb_instance_id,
                              const std::string& out_file_path) {
    return RunResetUsbDeviceHelperMode(SystemUsbResetContext(), usb_instance_id, out_file_path);
  };
}

namespace {

// The captures' view of the hub: the hub object stays owned here between
// opening it and closing it.
class WindowsHubPortCycler : public HubPortCycler {
 public:
  bool OpenParentHub(const std::string& usb_instance_id, HubHandle* hub, uint32_t* port,
                     std::string* error) override {
    std::unique_ptr<UsbHub> opened;
    if (!OpenParentUsbHub(WindowsDeviceTree(), WindowsUsbHubApi(), usb_instance_id, &opened, port,
                          error)) {
      *hub = nullptr;
      return false;
    }
    *hub = opened.release();
    return true;
  }
  bool CyclePort(HubHandle hub, uint32_t port, std::string* error) override {
    return hub != nullptr && CycleHubPort(*static_cast<UsbHub*>(hub), port, error);
  }
  void CloseHub(HubHandle hub) override { delete static_cast<UsbHub*>(hub); }
};

}  // namespace

HubPortResolver UsbCaptureHubPortResolver() {
  return [](const std::string& usb_instance_id, uint32_t* port) {
    uint32_t node = 0;
    return ResolveUsbDevicePort(WindowsDeviceTree(), usb_instance_id, &node, port, nullptr);
  };
}

HubPortCycler& UsbCaptureHubPortCycler() {
  static WindowsHubPortCycler* cycler = new WindowsHubPortCycler();
  return *cycler;
}

}  // namespace vek_native
