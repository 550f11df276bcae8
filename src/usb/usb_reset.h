// Power-cycling the hub port of a USB device so that it enumerates again. The
// port cycle needs administrator rights: an elevated process resets in
// process, any other starts itself elevated in the "--reset-usb-device" mode
// and reads the outcome from a key=value result file.
#ifndef VEK_USB_USB_RESET_H_
#define VEK_USB_USB_RESET_H_

#include <cstdint>
#include <functional>
#include <string>

#include "capture/elevated_helper.h"
#include "capture/file_system.h"
#include "capture/helper_mode_operations.h"
#include "hid/device_tree.h"
#include "hid/hub_api.h"

namespace vek_native {

inline constexpr char kResetResultPrefix[] = "vek_tool_reset_";
constexpr uint32_t kResetWaitLimitMs = 30000;

struct UsbResetResult {
  bool success = false;
  uint64_t elapsed_ms = 0;
  std::string message;
  std::string vid_pid;
};

// What a reset needs from the system.
struct UsbResetContext {
  DeviceTree* tree = nullptr;
  UsbHubApi* hubs = nullptr;
  FileSystem* fs = nullptr;
  ProcessLauncher* launcher = nullptr;
  std::function<uint64_t()> now_micros;
};

// The port-cycle request. On failure `message` (optional) carries the error.
bool CycleHubPort(UsbHub& hub, uint32_t port, std::string* message);

// The result file's text: success, elapsed_ms, message (line breaks blanked)
// and vid_pid, one line each.
std::string FormatUsbResetResultFile(const UsbResetResult& result);

// The reset itself; writes the result file at `result_path` and returns the
// exit code, 0 when the port was cycled, else 1.
uint32_t RunUsbPortReset(const UsbResetContext& context, const std::string& instance_id,
                         const std::string& result_path);

// The "--reset-usb-device" helper mode: as RunUsbPortReset, but an elevated
// process writes only to a result file of its own kind in the temporary
// directory, never to an arbitrary path handed on its command line.
int RunResetUsbDeviceHelperMode(const UsbResetContext& context, const std::string& instance_id,
                                const std::string& result_path);

// The user-interface side: in process when elevated, else through the helper.
// True only when the port was cycled; `cancelled` tells a declined elevation.
bool ResetUsbDevice(const UsbResetContext& context, const std::string& instance_id,
                    UsbResetResult* result, bool* cancelled, std::string* message);

}  // namespace vek_native

#endif  // VEK_USB_USB_RESET_H_
