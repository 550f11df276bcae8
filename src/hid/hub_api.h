// The USB hub requests (and the driver-key look-up that matches a port to a
// device node) that reading a HID device's USB descriptors needs. Windows implements them with
// SetupAPI, the configuration manager and DeviceIoControl on the hub (hub_api_win.cc); tests use
// hubs declared port by port.
#ifndef VEK_HID_HUB_API_H_
#define VEK_HID_HUB_API_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vek_native {

// One opened hub. Each request fills a caller-made buffer laid out as the hub
// driver's IOCTL structure and reports the bytes returned, or false and the
// Windows error code.
class UsbHub {
 public:
  virtual ~UsbHub() = default;
  // IOCTL_USB_GET_NODE_INFORMATION (USB_NODE_INFORMATION, 76 bytes).
  virtual bool GetNodeInformation(std::vector<uint8_t>* buffer, uint32_t* returned,
                                  uint32_t* error) = 0;
  // IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX (365 bytes, 30 pipes).
  virtual bool GetConnectionInformation(std::vector<uint8_t>* buffer, uint32_t* returned,
                                        uint32_t* error) = 0;
  // IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME.
  virtual bool GetConnectionDriverKeyName(std::vector<uint8_t>* buffer, uint32_t* returned,
                                          uint32_t* error) = 0;
  // IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION; the input is the first 12
  // bytes, the output the whole buffer.
  virtual bool GetDescriptorFromNodeConnection(std::vector<uint8_t>* buffer, uint32_t* returned,
                                               uint32_t* error) = 0;
  // IOCTL_USB_HUB_CYCLE_PORT on `port`: the device disconnects and enumerates
  // again. A hub that cannot cycle ports reports ERROR_NOT_SUPPORTED (50).
  virtual bool CyclePort(uint32_t /*port*/, uint32_t* error) {
    *error = 50;
    return false;
  }
};

// Hub access rights tried in turn when opening a hub.
enum class HubAccess { kReadWrite, kWrite, kRead };

class UsbHubApi {
 public:
  virtual ~UsbHubApi() = default;
  // Device-interface paths of the present USB hubs, in enumeration order.
  virtual std::vector<std::u16string> ListHubPaths() = 0;
  // CreateFileW on a hub path (share mode read|write, OPEN_EXISTING); null and
  // the Windows error on failure.
  virtual std::unique_ptr<UsbHub> OpenHubWithAccess(const std::u16string& hub_path,
                                                    HubAccess access, uint32_t* error) = 0;
  // The driver key (CM_DRP_DRIVER) of a device node, which the hub reports
  // for the device on each port; "" when unreadable.
  virtual std::string DriverKeyOf(const std::string& instance_id) = 0;
};

#ifdef _WIN32
// The process's SetupAPI / configuration manager / DeviceIoControl hubs.
UsbHubApi& WindowsUsbHubApi();
#endif

}  // namespace vek_native

#endif  // VEK_HID_HUB_API_H_
