// HID enumeration and device records, and the small HID routines every HID
// feature shares: the three open modes, the caps and string reads, the path
// field parser, the bus classification and the walk up to the USB device.
#ifndef VEK_HID_HID_DEVICES_H_
#define VEK_HID_HID_DEVICES_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "channels/encodable_value.h"
#include "hid/device_tree.h"
#include "hid/hid_device_api.h"

namespace vek_native {

// Read/write, then read-only. When both fail and `message` is given, it
// receives FormatWin32Failure of "打开 HID 设备". Used for report writes, and
// (overlapped, so that a request can be given up) for reports read on request.
std::unique_ptr<HidDevice> OpenHidDevice(HidDeviceApi& api, const std::string& path,
                                         std::string* message, bool overlapped = false);
// OpenHidDevice, then attribute-only access. For reading identity and caps.
std::unique_ptr<HidDevice> OpenHidDeviceForQuery(HidDeviceApi& api, const std::string& path);
// Attribute-only access, then read-only. For descriptor requests.
std::unique_ptr<HidDevice> OpenHidDeviceForDescriptors(HidDeviceApi& api, const std::string& path);

// Whether an opened path is a HID collection: the HID class driver answers
// its attributes or hands out its preparsed data. CreateFileW opens whatever
// a path names (a file, NUL, a serial port, a raw disk), and the HID methods
// must read and write HID collections only. False with the message when it is
// not one.
bool ConfirmHidCollection(HidDevice& device, std::string* message);

// The collection's caps and, when `collection_count` is given, the number of
// top-level link collections (nodes whose parent is 0), or the declared node
// count when none can be counted. False when there is no preparsed data or the
// caps cannot be read.
bool ReadHidCaps(HidDevice& device, HidCaps* caps, uint32_t* collection_count = nullptr);

// One identity string, at most 255 UTF-16 units, as UTF-8; "" on failure.
std::string ReadHidString(HidDevice& device, HidStringKind kind);

// The two hex digits after the first `marker` ("&mi_" or "&col", matched
// ignoring ASCII case) in `path`; 0 when absent or malformed.
int ParseHexSuffixField(std::string_view path, std::string_view marker);

// 0 not determined, 1 USB, 2 Bluetooth, 3 other.
int ClassifyBusType(std::string_view path, std::string_view parent_instance_id);

// The instance ID of the USB device at or above `start_instance_id` (case
// kept): the start ID and at most seven ancestors are examined; USB interface
// nodes ("&mi_") are passed over. "" when none is found or a step fails.
std::string FindUsbDeviceInstanceId(DeviceTree& tree, const std::string& start_instance_id);

// The record "listHidDevices" returns for one collection.
struct HidDeviceRecord {
  std::string path;
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  uint16_t version_number = 0;
  std::string product;
  std::string manufacturer;
  std::string serial_number;
  uint16_t usage_page = 0;
  uint16_t usage = 0;
  int bus_type = 0;
  uint16_t input_report_byte_length = 0;
  uint16_t output_report_byte_length = 0;
  uint16_t feature_report_byte_length = 0;
  uint32_t collection_count = 0;
  int interface_number = 0;
  int collection_number = 0;
  std::string usb_instance_id;
};

// Every present HID collection that opens and has readable caps, in
// enumeration order. False with FormatWin32Failure of "枚举 HID 设备" only when
// the interface list cannot be created.
bool ListHidDevices(HidDeviceApi& api, DeviceTree& tree, std::vector<HidDeviceRecord>* records,
                    std::string* message);

// The record as the channel map with its 17 keys; integers are 64-bit.
EncodableMap HidDeviceRecordToMap(const HidDeviceRecord& record);

}  // namespace vek_native

#endif  // VEK_HID_HID_DEVICES_H_
