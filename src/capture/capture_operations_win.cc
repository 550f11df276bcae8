#include <memory>
#include <utility>

#include "capture/capture_operations.h"
#include "capture/capture_support.h"
#include "capture/hid_descriptor_capture.h"
#include "capture/usb_enumeration_capture.h"

namespace vek_native {
namespace {

int RunHidHelper(HubPortCycler* hub, const std::string& usb_instance_id, int32_t interface_number,
                 int32_t timeout_ms, const std::string& out_file_path, std::string* message) {
  CaptureHelperSystem system = SystemCaptureHelperSystem(hub);
  return RunHidDescriptorCaptureHelper(system, usb_instance_id, interface_number, timeout_ms,
                                       out_file_path, message);
}

int RunUsbHelper(HubPortCycler* hub, const std::string& usb_instance_id, int32_t duration_ms,
                 bool include_hid_reports, int32_t timeout_ms, const std::string& directory) {
  CaptureHelperSystem system = SystemCaptureHelperSystem(hub);
  return RunUsbEnumerationCaptureHelper(system, usb_instance_id, duration_ms, include_hid_reports,
                                        timeout_ms, directory);
}

}  // namespace

void PlugCaptureOperations(BridgeOperations& operations, HubPortResolver resolve_hub_port,
                           HubPortCycler* hub) {
  const auto queries = std::make_shared<const CaptureSupportQueries>(
      SystemCaptureSupportQueries(std::move(resolve_hub_port)));
  operations.usb_capture_capabilities = [queries](const std::string& usb_instance_id) {
    UsbCaptureCapabilities capabilities;
    ProbeUsbCaptureSupport(*queries, usb_instance_id, &capabilities);
    return UsbCaptureCapabilitiesToValue(capabilities);
  };
  operations.capture_hid_report_descriptors =
      [queries, hub](const std::string& usb_instance_id, int32_t interface_number,
                     int32_t timeout_ms, std::vector<CapturedHidDescriptor>* records,
                     bool* cancelled, std::string* message) {
        HidCaptureCaller caller;
        caller.launcher = &SystemProcessLauncher();
        caller.files = &SystemFileSystem();
        caller.support = queries.get();
        caller.run_helper = [hub](const std::string& id, int32_t iface, int32_t timeout,
                                  const std::string& out, std::string* text) {
          return RunHidHelper(hub, id, iface, timeout, out, text);
        };
        std::vector<HidDescriptorCapture> captured;
        const bool ok = CaptureHidReportDescriptors(caller, usb_instance_id, interface_number,
                                                    timeout_ms, &captured, cancelled, message);
        *records = ToCapturedHidDescriptors(captured);
        return ok;
      };
  operations.capture_usb_enumeration = [queries, hub](const std::string& usb_instance_id,
                                                      int32_t duration_ms, bool include_hid_reports,
                                                      int32_t timeout_ms, EncodableValue* value,
                                                      bool* cancelled, std::string* message) {
    UsbCaptureCaller caller;
    caller.launcher = &SystemProcessLauncher();
    caller.files = &SystemFileSystem();
    caller.support = queries.get();
    caller.run_helper = [hub](const std::string& id, int32_t duration, bool include,
                              int32_t timeout, const std::string& directory) {
      return RunUsbHelper(hub, id, duration, include, timeout, directory);
    };
    UsbCaptureResult result;
    if (!CaptureUsbEnumeration(caller, usb_instance_id, duration_ms, include_hid_reports,
                               timeout_ms, &result, cancelled, message)) {
      return false;
    }
    *value = UsbCaptureResultToValue(result);
    return true;
  };
}

void PlugCaptureHelperModes(HelperModeOperations& modes, HubPortCycler* hub) {
  modes.capture_hid_report_descriptors = [hub](const std::string& usb_instance_id,
                                               int32_t interface_number, int32_t timeout_ms,
                                               const std::string& out_file_path,
                                               std::string* message) {
    return RunHidHelper(hub, usb_instance_id, interface_number, timeout_ms, out_file_path, message);
  };
  modes.capture_usb_enumeration = [hub](const std::string& usb_instance_id, int32_t duration_ms,
                                        bool include_hid_reports, int32_t timeout_ms,
                                        const std::string& output_directory) {
    return RunUsbHelper(hub, usb_instance_id, duration_ms, include_hid_reports, timeout_ms,
                        output_directory);
  };
}

}  // namespace vek_native
