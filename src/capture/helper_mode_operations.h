// The privileged tasks an elevated second instance runs from the command line:
// their switches and operations, the contract between the features that own
// the tasks (and start themselves in these modes) and the host's entry point
// that selects one. It lives here, below both, so that the host depends on
// the features and never the other way. Each feature that owns a mode plugs
// it in (see product_wiring_win.cc); a mode whose operation is empty fails
// with a message naming it. Every operation returns the process exit code.
#ifndef VEK_CAPTURE_HELPER_MODE_OPERATIONS_H_
#define VEK_CAPTURE_HELPER_MODE_OPERATIONS_H_

#include <cstdint>
#include <functional>
#include <string>

namespace vek_native {

inline constexpr char kHidCaptureSwitch[] = "--capture-hid-report-descriptors";
inline constexpr char kResetHelperSwitch[] = "--reset-usb-device";
inline constexpr char kUsbCaptureSwitch[] = "--capture-usb-enumeration";

struct HelperModeOperations {
  // "--capture-hid-report-descriptors": *message explains a non-zero code.
  std::function<int(const std::string& usb_instance_id, int32_t interface_number,
                    int32_t timeout_ms, const std::string& out_file_path, std::string* message)>
      capture_hid_report_descriptors;
  // "--reset-usb-device".
  std::function<int(const std::string& usb_instance_id, const std::string& out_file_path)>
      reset_usb_device;
  // "--capture-usb-enumeration".
  std::function<int(const std::string& usb_instance_id, int32_t duration_ms,
                    bool include_hid_reports, int32_t timeout_ms,
                    const std::string& output_directory)>
      capture_usb_enumeration;
};

}  // namespace vek_native

#endif  // VEK_CAPTURE_HELPER_MODE_OPERATIONS_H_
