// From a USB device's instance ID to the hub port it sits on and an open
// handle to that port's hub: the common first step of every feature that sends
// requests to a hub (diagnostics, port reset, trace captures).
#ifndef VEK_USB_USB_PORT_H_
#define VEK_USB_USB_PORT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "hid/device_tree.h"
#include "hid/hub_api.h"

namespace vek_native {

// Valid hub port numbers.
constexpr uint32_t kMinHubPort = 1;
constexpr uint32_t kMaxHubPort = 127;
// The located node and up to three ancestors are searched for a port.
constexpr int kPortWalkNodes = 4;

inline constexpr char kEmptyUsbInstanceIdMessage[] = "usbInstanceId 为空";
inline constexpr char kNoPortInLocationMessage[] =
    "无法从设备节点解析 USB 端口号（LocationInfo 中没有 Port_#）";

// The port number a location string such as "Port_#0003.Hub_#0002" names:
// the decimal number right after the first "Port_#", read the way wcstol reads
// base 10. 0 when there is none or it lies outside 1..127.
uint32_t ParsePortFromLocation(std::u16string_view location);

// The hub's device-interface path from its instance ID: A-Z lower-cased,
// backslashes turned into '#', "\\?\" in front and the hub interface class
// GUID appended.
std::string HubInterfacePath(std::string_view hub_instance_id);

// The node that carries the hub port of the device and the port number. On
// failure both are 0 and `message` (optional) says why.
bool ResolveUsbDevicePort(DeviceTree& tree, const std::string& instance_id, uint32_t* node,
                          uint32_t* port, std::string* message);

// The device's parent hub opened read/write, or read-only when that is all
// the hub allows, and the port. On failure the hub is null, the port 0 and
// `message` (optional) says why.
bool OpenParentUsbHub(DeviceTree& tree, UsbHubApi& hubs, const std::string& instance_id,
                      std::unique_ptr<UsbHub>* hub, uint32_t* port, std::string* message);

}  // namespace vek_native

#endif  // VEK_USB_USB_PORT_H_
