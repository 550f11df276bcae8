// USB standard descriptors as the hub hands them out: the GET_DESCRIPTOR
// request buffer, the decoders for device, configuration and string
// descriptors, and the map forms sent to the user interface.
#ifndef VEK_HID_USB_DESCRIPTORS_H_
#define VEK_HID_USB_DESCRIPTORS_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "channels/encodable_value.h"

namespace vek_native {

// A read-only view of bytes; decoders never read past `size`.
struct ByteSpan {
  const uint8_t* data = nullptr;
  size_t size = 0;
  ByteSpan() = default;
  ByteSpan(const uint8_t* d, size_t n) : data(d), size(n) {}
  ByteSpan(const std::vector<uint8_t>& v) : data(v.data()), size(v.size()) {}  // NOLINT
};

// Little-endian 16-bit value at `offset`; the caller has checked the length.
inline uint16_t ReadLe16(const uint8_t* bytes, size_t offset) {
  return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

// The port number that starts every hub request block, little-endian; the
// block holds at least four bytes.
void PutPortNumber(std::vector<uint8_t>* block, uint32_t port);

// Descriptor types (bDescriptorType) of USB 2.0 chapter 9 and HID 1.11.
constexpr uint8_t kDeviceDescriptorType = 1;
constexpr uint8_t kConfigurationDescriptorType = 2;
constexpr uint8_t kStringDescriptorType = 3;
constexpr uint8_t kInterfaceDescriptorType = 4;
constexpr uint8_t kEndpointDescriptorType = 5;
constexpr uint8_t kHidClassDescriptorType = 0x21;
constexpr uint8_t kReportDescriptorType = 0x22;

// Descriptor lengths (bLength) and the fields read by offset.
constexpr size_t kDeviceDescriptorLength = 18;
constexpr size_t kDeviceVendorIdOffset = 8;
constexpr size_t kDeviceProductIdOffset = 10;
constexpr size_t kConfigurationDescriptorLength = 9;
constexpr size_t kConfigurationTotalLengthOffset = 2;
constexpr size_t kInterfaceDescriptorLength = 9;
constexpr size_t kEndpointDescriptorLength = 7;
// A HID descriptor naming one class descriptor, whose wDescriptorLength
// (bytes 7-8) is the report descriptor's length.
constexpr size_t kHidDescriptorLength = 9;
constexpr size_t kHidReportLengthOffset = 7;
// A string descriptor's bLength is one byte: no descriptor is longer.
constexpr size_t kMaxStringDescriptorLength = 255;

// USB_DESCRIPTOR_REQUEST (packed): ConnectionIndex (4), SetupPacket
// bmRequest (1), bRequest (1), wValue (2), wIndex (2), wLength (2), Data[].
constexpr size_t kDescriptorRequestHeaderSize = 12;
// Beyond header and data: slack the hub driver may touch.
constexpr size_t kDescriptorRequestSlack = 8;
constexpr uint16_t kMaxDescriptorRequestLength = 4096;
constexpr uint8_t kRecipientDevice = 0x80;
constexpr uint8_t kRecipientInterface = 0x81;
constexpr uint8_t kGetDescriptor = 6;

// The request buffer for one GET_DESCRIPTOR through the hub: L + 20 bytes,
// zero-filled, where L is `length` or 4096 when `length` is 0 or above 4096.
std::vector<uint8_t> BuildDescriptorRequest(uint32_t port, uint8_t descriptor_type,
                                            uint8_t descriptor_index, uint16_t w_index,
                                            uint8_t bm_request, uint32_t length);

// The descriptor bytes of a completed request: empty unless more than 12 bytes
// came back; otherwise from offset 12 up to min(returned, buffer size).
std::vector<uint8_t> DescriptorRequestData(const std::vector<uint8_t>& buffer, size_t returned);

struct UsbEndpointRecord {
  uint8_t bLength = 0;
  uint8_t bDescriptorType = 0;
  uint8_t bEndpointAddress = 0;
  uint8_t bmAttributes = 0;
  uint16_t wMaxPacketSize = 0;
  uint8_t bInterval = 0;
  std::vector<uint8_t> raw;
};

struct UsbInterfaceRecord {
  uint8_t bLength = 0;
  uint8_t bInterfaceNumber = 0;
  uint8_t bAlternateSetting = 0;
  uint8_t bNumEndpoints = 0;
  uint8_t bInterfaceClass = 0;
  uint8_t bInterfaceSubClass = 0;
  uint8_t bInterfaceProtocol = 0;
  uint8_t iInterface = 0;
  std::vector<UsbEndpointRecord> endpoints;
  std::vector<std::vector<uint8_t>> class_descriptors;
};

struct UsbConfigurationRecord {
  uint8_t bLength = 0;
  uint8_t bDescriptorType = 0;
  uint16_t wTotalLength = 0;
  uint8_t bConfigurationValue = 0;
  uint8_t iConfiguration = 0;
  uint8_t bmAttributes = 0;
  uint8_t bMaxPower = 0;
  std::vector<UsbInterfaceRecord> interfaces;
  std::vector<uint8_t> raw;
};

// Reading caps that keep a hostile or corrupt configuration bounded.
constexpr size_t kMaxConfigurations = 16;
constexpr size_t kMaxInterfaces = 64;
constexpr size_t kMaxEndpoints = 64;
constexpr size_t kMaxClassDescriptors = 32;

// Everything learnt about the USB device behind one HID collection.
struct UsbDescriptorRecord {
  bool valid = false;
  uint8_t bLength = 0;
  uint8_t bDescriptorType = 0;
  uint16_t bcdUSB = 0;
  uint8_t bDeviceClass = 0;
  uint8_t bDeviceSubClass = 0;
  uint8_t bDeviceProtocol = 0;
  uint8_t bMaxPacketSize0 = 0;
  uint16_t idVendor = 0;
  uint16_t idProduct = 0;
  uint16_t bcdDevice = 0;
  uint8_t iManufacturer = 0;
  uint8_t iProduct = 0;
  uint8_t iSerialNumber = 0;
  uint8_t bNumConfigurations = 0;
  std::vector<uint8_t> device_descriptor_raw;
  std::vector<UsbConfigurationRecord> configurations;
  std::map<uint8_t, std::string> strings;
  std::vector<uint8_t> report_descriptor;
  uint8_t report_descriptor_interface = 0;
  std::string report_descriptor_error;
  std::string usb_instance_id;
  std::string parent_instance_id;
  uint8_t speed = 255;
  uint8_t address = 0;
  std::string usb_error;
};

// Fills the device-descriptor fields and the raw bytes from the first 18
// bytes; false (record untouched) when fewer than 18 bytes are given.
bool DecodeDeviceDescriptor(ByteSpan bytes, UsbDescriptorRecord* record);

// A configuration descriptor with everything that follows it. Fewer than 9
// bytes give an empty record; the walk stops at the first malformed entry.
UsbConfigurationRecord ParseConfiguration(ByteSpan bytes);

// A string descriptor's UTF-16LE text, cut at the first zero unit, as UTF-8;
// "" when the descriptor is malformed.
std::string DecodeStringDescriptor(ByteSpan bytes);

// wDescriptorLength of the first HID class descriptor (type 0x21, 9 bytes or
// more) among the interfaces numbered `interface_number`; 0 when none.
uint16_t DeclaredReportDescriptorLength(const std::vector<UsbConfigurationRecord>& configurations,
                                        uint8_t interface_number);

// The map forms sent to the user interface.
EncodableValue DeviceDescriptorMap(const UsbDescriptorRecord& record);
EncodableValue ConfigurationList(const UsbDescriptorRecord& record);

}  // namespace vek_native

#endif  // VEK_HID_USB_DESCRIPTORS_H_
