// The privileged tasks an elevated second instance runs from the command line.
// Each feature that owns one plugs it in (see product_wiring_win.cc); a mode
// whose operation is empty fails with a message naming it. Every operation
// returns the process exit code.
#ifndef VEK_HOST_HELPER_MODE_OPERATIONS_H_
#define VEK_HOST_HELPER_MODE_OPERATIONS_H_

#include <cstdint>
#include <functional>
#include <string>

namespace vek_native {

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

#endif  // VEK_HOST_HELPER_MODE_OPERATIONS_H_
