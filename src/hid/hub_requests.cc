#include "hid/hub_requests.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <string_view>
#include <utility>

#include "common/format.h"
#include "common/text.h"
#include "hid/hid_devices.h"

namespace vek_native {

namespace {

constexpr uint16_t kDefaultLanguageId = 0x0409;
// String descriptor 0: bLength, bDescriptorType, then the language IDs.
constexpr size_t kFirstLanguageIdOffset = 2;
constexpr uint32_t kLanguageHeaderLength = 4;
// A shorter reply is not taken for a report descriptor.
constexpr size_t kMinReportDescriptorLength = 3;
// Report-descriptor request lengths: a declared length up to 1023 as it is,
// else 1024; then 255 and 64 for devices that refuse longer requests.
constexpr uint32_t kMaxDeclaredRequestLength = 1023;
constexpr uint32_t kLargeReportRequestLength = 1024;
constexpr uint32_t kMidReportRequestLength = 255;
constexpr uint32_t kSmallReportRequestLength = 64;

// ConnectionStatus of a port with a device on it: DeviceConnected (1) as the
// little-endian ULONG of the connection block.
constexpr uint8_t kDeviceConnectedStatus[] = {1, 0, 0, 0};

}  // namespace

std::vector<uint8_t> ReadConfiguration(UsbHub& hub, uint32_t port, uint8_t index) {
  std::vector<uint8_t> header =
      GetDescriptorFromHub(hub, port, kConfigurationDescriptorType, index, 0, kRecipientDevice,
                           kConfigurationDescriptorLength);
  if (header.size() >= kConfigurationDescriptorLength) {
    const uint16_t total = ReadLe16(header.data(), kConfigurationTotalLengthOffset);
    if (total > kConfigurationDescriptorLength && total <= kMaxDescriptorRequestLength) {
      std::vector<uint8_t> full = GetDescriptorFromHub(hub, port, kConfigurationDescriptorType,
                                                       index, 0, kRecipientDevice, total);
      if (full.size() >= kConfigurationDescriptorLength) return full;
    }
    return header;
  }
  std::vector<uint8_t> direct =
      GetDescriptorFromHub(hub, port, kConfigurationDescriptorType, index, 0, kRecipientDevice,
                           kMaxDescriptorRequestLength);
  if (direct.size() >= kConfigurationDescriptorLength) return direct;
  return {};
}

ReportDescriptorAttempt RequestReportDescriptor(UsbHub& hub, uint32_t port,
                                                uint8_t interface_number, uint16_t declared,
                                                uint32_t* last_error) {
  struct Recipient {
    uint8_t bm_request;
    uint16_t w_index;
  };
  const Recipient recipients[] = {{kRecipientInterface, interface_number},
                                  {kRecipientDevice, 0},
                                  {kRecipientDevice, interface_number}};
  ReportDescriptorAttempt attempt;
  for (const Recipient& recipient : recipients) {
    for (uint32_t length : ReportDescriptorRequestLengths(declared)) {
      uint32_t error = 0;
      std::vector<uint8_t> reply =
          GetDescriptorFromHub(hub, port, kReportDescriptorType, 0, recipient.w_index,
                               recipient.bm_request, length, &error);
      // The first byte is an item's prefix: a tag or type of 0 is none.
      if (reply.size() >= kMinReportDescriptorLength && (reply[0] & 0xFC) != 0) {
        if (reply.size() >= declared) {
          attempt.bytes = std::move(reply);
          return attempt;
        }
        if (!attempt.truncated) {
          attempt.truncated = true;
          attempt.received = reply.size();
        }
        continue;
      }
      if (error != 0) *last_error = error;
    }
  }
  return attempt;
}

namespace {

std::vector<uint16_t> ReadLanguageIds(UsbHub& hub, uint32_t port) {
  std::vector<uint16_t> ids;
  const std::vector<uint8_t> head = GetDescriptorFromHub(hub, port, kStringDescriptorType, 0, 0,
                                                         kRecipientDevice, kLanguageHeaderLength);
  if (head.size() >= kLanguageHeaderLength && ReadLe16(head.data(), kFirstLanguageIdOffset) != 0) {
    ids.push_back(ReadLe16(head.data(), kFirstLanguageIdOffset));
    const std::vector<uint8_t> all = GetDescriptorFromHub(
        hub, port, kStringDescriptorType, 0, 0, kRecipientDevice, kMaxStringDescriptorLength);
    for (size_t offset = kFirstLanguageIdOffset; offset + 1 < all.size(); offset += 2) {
      const uint16_t id = ReadLe16(all.data(), offset);
      if (id != 0 && std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
    }
  }
  if (ids.empty()) ids.push_back(kDefaultLanguageId);
  return ids;
}

void ReadReportDescriptor(UsbHub& hub, uint32_t port, const std::string& hid_path,
                          UsbDescriptorRecord* record) {
  std::vector<uint8_t> interfaces{static_cast<uint8_t>(ParseHexSuffixField(hid_path, "&mi_"))};
  for (const auto& config : record->configurations) {
    for (const auto& interface : config.interfaces) {
      if (std::find(interfaces.begin(), interfaces.end(), interface.bInterfaceNumber) ==
          interfaces.end()) {
        interfaces.push_back(interface.bInterfaceNumber);
      }
    }
  }
  std::string failed;
  // The first interface whose descriptor came back short.
  struct Truncation {
    uint8_t interface_number;
    size_t received;
    uint16_t declared;
  };
  std::optional<Truncation> truncation;
  uint32_t last_error = 0;
  for (uint8_t interface_number : interfaces) {
    const uint16_t declared =
        DeclaredReportDescriptorLength(record->configurations, interface_number);
    ReportDescriptorAttempt attempt =
        RequestReportDescriptor(hub, port, interface_number, declared, &last_error);
    if (!attempt.bytes.empty()) {
      record->report_descriptor = std::move(attempt.bytes);
      record->report_descriptor_interface = interface_number;
      return;
    }
    if (!failed.empty()) failed += "、";
    failed += std::to_string(interface_number);
    if (attempt.truncated && !truncation) {
      truncation = Truncation{interface_number, attempt.received, declared};
    }
  }
  if (truncation) {
    record->report_descriptor_error = "USB GET_DESCRIPTOR(0x22) 返回被截断（接口 " +
                                      std::to_string(truncation->interface_number) + "，" +
                                      std::to_string(truncation->received) + "/" +
                                      std::to_string(truncation->declared) + " 字节）";
  } else {
    record->report_descriptor_error = "USB GET_DESCRIPTOR(0x22) 请求失败（接口 " + failed +
                                      "，0x81 Interface 与 0x80 Device 收件人均失败，" +
                                      FormatLastError(last_error) + "）";
  }
}

void ReadStrings(UsbHub& hub, uint32_t port, UsbDescriptorRecord* record) {
  std::vector<uint8_t> indices{record->iManufacturer, record->iProduct, record->iSerialNumber};
  for (const auto& config : record->configurations) {
    indices.push_back(config.iConfiguration);
    for (const auto& interface : config.interfaces) indices.push_back(interface.iInterface);
  }
  const std::vector<uint16_t> languages = ReadLanguageIds(hub, port);
  for (uint8_t index : indices) {
    if (index == 0 || record->strings.count(index) != 0) continue;
    for (uint16_t language : languages) {
      const std::vector<uint8_t> bytes =
          GetDescriptorFromHub(hub, port, kStringDescriptorType, index, language, kRecipientDevice,
                               kMaxStringDescriptorLength);
      std::string text = DecodeStringDescriptor(bytes);
      if (!text.empty()) {
        record->strings[index] = std::move(text);
        break;
      }
    }
  }
}

}  // namespace

std::vector<uint8_t> GetDescriptorFromHub(UsbHub& hub, uint32_t port, uint8_t descriptor_type,
                                          uint8_t descriptor_index, uint16_t w_index,
                                          uint8_t bm_request, uint32_t length, uint32_t* error) {
  std::vector<uint8_t> buffer =
      BuildDescriptorRequest(port, descriptor_type, descriptor_index, w_index, bm_request, length);
  uint32_t returned = 0;
  uint32_t call_error = 0;
  if (error != nullptr) *error = 0;
  if (!hub.GetDescriptorFromNodeConnection(&buffer, &returned, &call_error)) {
    if (error != nullptr) *error = call_error;
    return {};
  }
  return DescriptorRequestData(buffer, returned);
}

std::string GetDriverKeyName(UsbHub& hub, uint32_t port) {
  std::vector<uint8_t> buffer(kDriverKeyNameBufferSize, 0);
  PutPortNumber(&buffer, port);
  uint32_t returned = 0;
  uint32_t error = 0;
  if (!hub.GetConnectionDriverKeyName(&buffer, &returned, &error)) return "";
  const size_t end = std::min<size_t>(returned, buffer.size());
  std::u16string name;
  for (size_t offset = 8; offset + 1 < end; offset += 2) {
    const char16_t unit = static_cast<char16_t>(ReadLe16(buffer.data(), offset));
    if (unit == 0) break;
    name.push_back(unit);
  }
  return Utf16ToUtf8(name);
}

std::unique_ptr<UsbHub> OpenHub(UsbHubApi& api, const std::u16string& hub_path, uint32_t* error) {
  uint32_t last_error = 0;
  for (HubAccess access : {HubAccess::kReadWrite, HubAccess::kWrite, HubAccess::kRead}) {
    std::unique_ptr<UsbHub> hub = api.OpenHubWithAccess(hub_path, access, &last_error);
    if (hub) return hub;
  }
  if (error != nullptr) *error = last_error;
  return nullptr;
}

HubPortLocation FindHubPort(UsbHubApi& api, uint16_t vendor_id, uint16_t product_id,
                            const std::string& driver_key) {
  const std::string wanted_key = AsciiLower(driver_key);
  HubPortLocation fallback;
  for (const std::u16string& hub_path : api.ListHubPaths()) {
    uint32_t error = 0;
    std::unique_ptr<UsbHub> hub = OpenHub(api, hub_path, &error);
    if (!hub) continue;
    std::vector<uint8_t> node(kNodeInformationSize, 0);
    uint32_t returned = 0;
    if (!hub->GetNodeInformation(&node, &returned, &error)) continue;
    const uint32_t ports = std::min<uint32_t>(node[kNodeNumberOfPortsOffset], kMaxHubPorts);
    for (uint32_t port = 1; port <= ports; ++port) {
      std::vector<uint8_t> info(kConnectionInformationSize, 0);
      PutPortNumber(&info, port);
      if (!hub->GetConnectionInformation(&info, &returned, &error) ||
          !std::equal(std::begin(kDeviceConnectedStatus), std::end(kDeviceConnectedStatus),
                      info.begin() + kConnectionStatusOffset)) {
        continue;
      }
      const uint8_t* descriptor = info.data() + kConnectionDeviceDescriptorOffset;
      if (ReadLe16(descriptor, kDeviceVendorIdOffset) != vendor_id ||
          ReadLe16(descriptor, kDeviceProductIdOffset) != product_id) {
        continue;
      }
      HubPortLocation location;
      location.found = true;
      location.hub_path = hub_path;
      location.port = port;
      location.device_descriptor.assign(descriptor, descriptor + kDeviceDescriptorLength);
      location.speed = info[kConnectionSpeedOffset];
      location.address = info[kConnectionDeviceAddressOffset];
      if (AsciiLower(GetDriverKeyName(*hub, port)) == wanted_key) return location;
      if (!fallback.found) fallback = std::move(location);
    }
  }
  return fallback;
}

std::vector<uint32_t> ReportDescriptorRequestLengths(uint32_t declared_length) {
  const uint32_t first = (declared_length >= 1 && declared_length <= kMaxDeclaredRequestLength)
                             ? declared_length
                             : kLargeReportRequestLength;
  std::vector<uint32_t> lengths{first};
  if (first > kMidReportRequestLength) lengths.push_back(kMidReportRequestLength);
  if (first > kSmallReportRequestLength) lengths.push_back(kSmallReportRequestLength);
  return lengths;
}

std::vector<HidInterfaceEntry> ListHidInterfaces(HidDeviceApi& hid) {
  std::vector<HidInterfaceEntry> entries;
  uint32_t error = 0;
  if (!hid.EnumerateInterfaces(&entries, &error)) entries.clear();
  return entries;
}

std::string ParentInstanceIdOfHidPath(const std::vector<HidInterfaceEntry>& entries,
                                      const std::string& hid_path) {
  const std::string wanted = AsciiLower(hid_path);
  for (const HidInterfaceEntry& entry : entries) {
    if (AsciiLower(entry.path) == wanted) return entry.parent_instance_id;
  }
  return "";
}

UsbDescriptorRecord ReadUsbDescriptorsForHidPath(HidDeviceApi& hid, DeviceTree& tree,
                                                 UsbHubApi& hubs, const std::string& hid_path,
                                                 uint16_t vendor_id, uint16_t product_id) {
  return ReadUsbDescriptorsForHidPath(ListHidInterfaces(hid), tree, hubs, hid_path, vendor_id,
                                      product_id);
}

UsbDescriptorRecord ReadUsbDescriptorsForHidPath(const std::vector<HidInterfaceEntry>& interfaces,
                                                 DeviceTree& tree, UsbHubApi& api,
                                                 const std::string& hid_path, uint16_t vendor_id,
                                                 uint16_t product_id) {
  UsbDescriptorRecord record;
  record.parent_instance_id = ParentInstanceIdOfHidPath(interfaces, hid_path);
  if (record.parent_instance_id.empty()) {
    record.usb_error = "无法读取父设备实例 ID（SetupDi 属性查询失败）";
    return record;
  }
  record.usb_instance_id = FindUsbDeviceInstanceId(tree, record.parent_instance_id);
  if (record.usb_instance_id.empty()) {
    record.usb_error = "该设备不在 USB 总线上（蓝牙 / 虚拟 / 内置 HID）";
    return record;
  }
  const HubPortLocation location =
      FindHubPort(api, vendor_id, product_id, api.DriverKeyOf(record.usb_instance_id));
  if (!location.found) {
    record.usb_error = "未在 USB 集线器端口上找到该设备";
    return record;
  }
  record.speed = location.speed;
  record.address = location.address;
  uint32_t open_error = 0;
  std::unique_ptr<UsbHub> hub = OpenHub(api, location.hub_path, &open_error);
  if (!hub) {
    record.usb_error =
        "无法打开 USB 集线器（可能缺少管理员权限，" + FormatLastError(open_error) + "）";
    return record;
  }
  const uint32_t port = location.port;

  uint32_t device_error = 0;
  std::vector<uint8_t> device =
      GetDescriptorFromHub(*hub, port, kDeviceDescriptorType, 0, 0, kRecipientDevice,
                           kDeviceDescriptorLength, &device_error);
  const bool from_connection = device.empty();
  if (from_connection) device = location.device_descriptor;
  if (!DecodeDeviceDescriptor(device, &record)) {
    record.usb_error = "USB 设备描述符长度异常（" + std::to_string(device.size()) + " 字节）";
    return record;
  }
  record.valid = true;

  const size_t count = std::min<size_t>(
      record.bNumConfigurations == 0 ? 1 : record.bNumConfigurations, kMaxConfigurations);
  for (size_t index = 0; index < count; ++index) {
    const std::vector<uint8_t> bytes = ReadConfiguration(*hub, port, static_cast<uint8_t>(index));
    if (bytes.size() >= kConfigurationDescriptorLength) {
      record.configurations.push_back(ParseConfiguration(bytes));
    }
  }
  if (record.configurations.empty()) {
    record.usb_error =
        from_connection
            ? "系统拒绝通过 USB 集线器读取描述符（" + FormatLastError(device_error) +
                  "）：设备描述符取自端口连接信息，配置 / 接口 / 端点 / 描述符字符串不可用"
            : std::string("读取 USB 配置描述符失败");
    return record;
  }

  ReadStrings(*hub, port, &record);
  ReadReportDescriptor(*hub, port, hid_path, &record);
  return record;
}

}  // namespace vek_native
