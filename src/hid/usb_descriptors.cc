#include "hid/usb_descriptors.h"

#include <algorithm>
#include <utility>

#include "common/text.h"

namespace vek_native {

namespace {

constexpr uint8_t kFirstClassDescriptor = 0x20;
constexpr uint8_t kLastClassDescriptor = 0x3F;
// Every descriptor starts with bLength and bDescriptorType.
constexpr size_t kDescriptorPrefixLength = 2;

EncodableValue Int(int64_t value) { return EncodableValue(value); }

EncodableValue Bytes(const std::vector<uint8_t>& bytes) { return EncodableValue(bytes); }

EncodableMap EndpointMap(const UsbEndpointRecord& endpoint) {
  return EncodableMap{
      {EncodableValue("bLength"), Int(endpoint.bLength)},
      {EncodableValue("bDescriptorType"), Int(endpoint.bDescriptorType)},
      {EncodableValue("bEndpointAddress"), Int(endpoint.bEndpointAddress)},
      {EncodableValue("bmAttributes"), Int(endpoint.bmAttributes)},
      {EncodableValue("wMaxPacketSize"), Int(endpoint.wMaxPacketSize)},
      {EncodableValue("bInterval"), Int(endpoint.bInterval)},
      {EncodableValue("raw"), Bytes(endpoint.raw)},
  };
}

EncodableMap InterfaceMap(const UsbInterfaceRecord& interface) {
  EncodableList endpoints;
  for (const auto& endpoint : interface.endpoints) endpoints.emplace_back(EndpointMap(endpoint));
  EncodableList class_descriptors;
  for (const auto& bytes : interface.class_descriptors)
    class_descriptors.emplace_back(Bytes(bytes));
  return EncodableMap{
      {EncodableValue("bLength"), Int(interface.bLength)},
      {EncodableValue("bInterfaceNumber"), Int(interface.bInterfaceNumber)},
      {EncodableValue("bAlternateSetting"), Int(interface.bAlternateSetting)},
      {EncodableValue("bNumEndpoints"), Int(interface.bNumEndpoints)},
      {EncodableValue("bInterfaceClass"), Int(interface.bInterfaceClass)},
      {EncodableValue("bInterfaceSubClass"), Int(interface.bInterfaceSubClass)},
      {EncodableValue("bInterfaceProtocol"), Int(interface.bInterfaceProtocol)},
      {EncodableValue("iInterface"), Int(interface.iInterface)},
      {EncodableValue("endpoints"), EncodableValue(std::move(endpoints))},
      {EncodableValue("classDescriptors"), EncodableValue(std::move(class_descriptors))},
  };
}

}  // namespace

void PutPortNumber(std::vector<uint8_t>* block, uint32_t port) {
  for (int i = 0; i < 4; ++i) (*block)[i] = static_cast<uint8_t>(port >> (8 * i));
}

std::vector<uint8_t> BuildDescriptorRequest(uint32_t port, uint8_t descriptor_type,
                                            uint8_t descriptor_index, uint16_t w_index,
                                            uint8_t bm_request, uint32_t length) {
  const uint16_t data_length = (length == 0 || length > kMaxDescriptorRequestLength)
                                   ? kMaxDescriptorRequestLength
                                   : static_cast<uint16_t>(length);
  std::vector<uint8_t> buffer(
      kDescriptorRequestHeaderSize + static_cast<size_t>(data_length) + kDescriptorRequestSlack, 0);
  PutPortNumber(&buffer, port);
  buffer[4] = bm_request;
  buffer[5] = kGetDescriptor;
  buffer[6] = descriptor_index;
  buffer[7] = descriptor_type;
  buffer[8] = static_cast<uint8_t>(w_index);
  buffer[9] = static_cast<uint8_t>(w_index >> 8);
  buffer[10] = static_cast<uint8_t>(data_length);
  buffer[11] = static_cast<uint8_t>(data_length >> 8);
  return buffer;
}

std::vector<uint8_t> DescriptorRequestData(const std::vector<uint8_t>& buffer, size_t returned) {
  const size_t end = std::min(returned, buffer.size());
  if (end <= kDescriptorRequestHeaderSize) return {};
  return std::vector<uint8_t>(buffer.begin() + kDescriptorRequestHeaderSize, buffer.begin() + end);
}

bool DecodeDeviceDescriptor(ByteSpan bytes, UsbDescriptorRecord* record) {
  if (bytes.data == nullptr || bytes.size < kDeviceDescriptorLength) return false;
  const uint8_t* b = bytes.data;
  record->bLength = b[0];
  record->bDescriptorType = b[1];
  record->bcdUSB = ReadLe16(b, 2);
  record->bDeviceClass = b[4];
  record->bDeviceSubClass = b[5];
  record->bDeviceProtocol = b[6];
  record->bMaxPacketSize0 = b[7];
  record->idVendor = ReadLe16(b, kDeviceVendorIdOffset);
  record->idProduct = ReadLe16(b, kDeviceProductIdOffset);
  record->bcdDevice = ReadLe16(b, 12);
  record->iManufacturer = b[14];
  record->iProduct = b[15];
  record->iSerialNumber = b[16];
  record->bNumConfigurations = b[17];
  record->device_descriptor_raw.assign(b, b + bytes.size);
  return true;
}

UsbConfigurationRecord ParseConfiguration(ByteSpan bytes) {
  UsbConfigurationRecord config;
  if (bytes.data == nullptr || bytes.size < kConfigurationDescriptorLength) return config;
  const uint8_t* b = bytes.data;
  config.bLength = b[0];
  config.bDescriptorType = b[1];
  config.wTotalLength = ReadLe16(b, kConfigurationTotalLengthOffset);
  config.bConfigurationValue = b[5];
  config.iConfiguration = b[6];
  config.bmAttributes = b[7];
  config.bMaxPower = b[8];
  config.raw.assign(b, b + bytes.size);

  UsbInterfaceRecord* current = nullptr;
  size_t p = config.bLength;
  while (p < bytes.size && bytes.size - p >= kDescriptorPrefixLength) {
    const size_t n = b[p];
    const uint8_t type = b[p + 1];
    if (n < kDescriptorPrefixLength || n > bytes.size - p) break;
    if (type == kInterfaceDescriptorType && n >= kInterfaceDescriptorLength) {
      if (config.interfaces.size() >= kMaxInterfaces) break;
      UsbInterfaceRecord interface;
      interface.bLength = static_cast<uint8_t>(n);
      interface.bInterfaceNumber = b[p + 2];
      interface.bAlternateSetting = b[p + 3];
      interface.bNumEndpoints = b[p + 4];
      interface.bInterfaceClass = b[p + 5];
      interface.bInterfaceSubClass = b[p + 6];
      interface.bInterfaceProtocol = b[p + 7];
      interface.iInterface = b[p + 8];
      config.interfaces.push_back(std::move(interface));
      current = &config.interfaces.back();
    } else if (type == kEndpointDescriptorType && n >= kEndpointDescriptorLength &&
               current != nullptr && current->endpoints.size() < kMaxEndpoints) {
      UsbEndpointRecord endpoint;
      endpoint.bLength = static_cast<uint8_t>(n);
      endpoint.bDescriptorType = type;
      endpoint.bEndpointAddress = b[p + 2];
      endpoint.bmAttributes = b[p + 3];
      endpoint.wMaxPacketSize = ReadLe16(b, p + 4);
      endpoint.bInterval = b[p + 6];
      endpoint.raw.assign(b + p, b + p + n);
      current->endpoints.push_back(std::move(endpoint));
    } else if (type >= kFirstClassDescriptor && type <= kLastClassDescriptor &&
               current != nullptr && current->class_descriptors.size() < kMaxClassDescriptors) {
      current->class_descriptors.emplace_back(b + p, b + p + n);
    }
    p += n;
  }
  return config;
}

std::string DecodeStringDescriptor(ByteSpan bytes) {
  if (bytes.data == nullptr || bytes.size < kDescriptorPrefixLength) return "";
  const size_t length = bytes.data[0];
  if (length < kDescriptorPrefixLength || length > bytes.size) return "";
  std::u16string text;
  for (size_t i = 0; i < (length - kDescriptorPrefixLength) / 2; ++i) {
    const char16_t unit =
        static_cast<char16_t>(ReadLe16(bytes.data, kDescriptorPrefixLength + 2 * i));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return Utf16ToUtf8(text);
}

uint16_t DeclaredReportDescriptorLength(const std::vector<UsbConfigurationRecord>& configurations,
                                        uint8_t interface_number) {
  for (const auto& config : configurations) {
    for (const auto& interface : config.interfaces) {
      if (interface.bInterfaceNumber != interface_number) continue;
      for (const auto& descriptor : interface.class_descriptors) {
        if (descriptor.size() >= kHidDescriptorLength && descriptor[1] == kHidClassDescriptorType) {
          return ReadLe16(descriptor.data(), kHidReportLengthOffset);
        }
      }
    }
  }
  return 0;
}

EncodableValue DeviceDescriptorMap(const UsbDescriptorRecord& record) {
  return EncodableValue(EncodableMap{
      {EncodableValue("bLength"), Int(record.bLength)},
      {EncodableValue("bDescriptorType"), Int(record.bDescriptorType)},
      {EncodableValue("bcdUSB"), Int(record.bcdUSB)},
      {EncodableValue("bDeviceClass"), Int(record.bDeviceClass)},
      {EncodableValue("bDeviceSubClass"), Int(record.bDeviceSubClass)},
      {EncodableValue("bDeviceProtocol"), Int(record.bDeviceProtocol)},
      {EncodableValue("bMaxPacketSize0"), Int(record.bMaxPacketSize0)},
      {EncodableValue("idVendor"), Int(record.idVendor)},
      {EncodableValue("idProduct"), Int(record.idProduct)},
      {EncodableValue("bcdDevice"), Int(record.bcdDevice)},
      {EncodableValue("iManufacturer"), Int(record.iManufacturer)},
      {EncodableValue("iProduct"), Int(record.iProduct)},
      {EncodableValue("iSerialNumber"), Int(record.iSerialNumber)},
      {EncodableValue("bNumConfigurations"), Int(record.bNumConfigurations)},
      {EncodableValue("raw"), Bytes(record.device_descriptor_raw)},
  });
}

EncodableValue ConfigurationList(const UsbDescriptorRecord& record) {
  EncodableList list;
  for (const auto& config : record.configurations) {
    EncodableList interfaces;
    for (const auto& interface : config.interfaces)
      interfaces.emplace_back(InterfaceMap(interface));
    list.emplace_back(EncodableMap{
        {EncodableValue("bLength"), Int(config.bLength)},
        {EncodableValue("bDescriptorType"), Int(config.bDescriptorType)},
        {EncodableValue("bConfigurationValue"), Int(config.bConfigurationValue)},
        {EncodableValue("iConfiguration"), Int(config.iConfiguration)},
        {EncodableValue("bmAttributes"), Int(config.bmAttributes)},
        {EncodableValue("bMaxPower"), Int(config.bMaxPower)},
        {EncodableValue("wTotalLength"), Int(config.wTotalLength)},
        {EncodableValue("interfaces"), EncodableValue(std::move(interfaces))},
        {EncodableValue("raw"), Bytes(config.raw)},
    });
  }
  return EncodableValue(std::move(list));
}

}  // namespace vek_native
