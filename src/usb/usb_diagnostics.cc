#include "usb/usb_diagnostics.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "common/text.h"
#include "common/format.h"
#include "hid/hub_requests.h"
#include "hid/report_analysis_map.h"
#include "hid/usb_descriptors.h"
#include "usb/usb_port.h"

namespace vek_native {
namespace {

// ERROR_INSUFFICIENT_BUFFER: the hub wants a bigger block for this port.
constexpr uint32_t kBufferTooSmall = 122;
constexpr size_t kConnectionDescriptorLengthOffset = 4;
constexpr size_t kConnectionSpeedByteOffset = 23;
// A hub asking for more than this for one port's connection information is
// not believed.
constexpr uint32_t kConnectionInfoMaximum = 65536;
// A HID collection belongs to a USB device found among its node and this many
// ancestors.
constexpr int kHidOwnerWalkNodes = 8;
constexpr int kAncestorCount = 5;
constexpr uint8_t kHidInterfaceClass = 3;
// Errors listed by offset in one interface's note; the rest are in the list.
constexpr size_t kErrorsNamedPerNote = 2;
// The problems a report descriptor the HID stack rejects leaves on a device.
constexpr uint32_t kProblemCannotStart = 10;
constexpr uint32_t kProblemDeviceFailed = 43;

void KeepFirst(std::string* message, std::string text) {
  if (message->empty()) *message = std::move(text);
}

bool BelongsToUsbDevice(DeviceTree& tree, uint32_t node, const std::string& upper_usb_id) {
  uint32_t current = node;
  for (int examined = 1;; ++examined) {
    std::string id;
    if (tree.NodeInstanceId(current, &id) == 0 && AsciiUpper(id) == upper_usb_id) return true;
    if (examined == kHidOwnerWalkNodes) return false;
    uint32_t parent = 0;
    if (tree.ParentNode(current, &parent) != 0) return false;
    current = parent;
  }
}

void AddProperty(std::map<std::string, std::string>* properties, const char* label,
                 const std::string& value) {
  if (!value.empty()) (*properties)[label] = value;
}

std::map<std::string, std::string> BuildProperties(const UsbNodeRecord& r,
                                                   const UsbDiagnosticsReport& report) {
  std::map<std::string, std::string> p;
  AddProperty(&p, "设备描述", r.description);
  AddProperty(&p, "友好名称", r.friendly_name);
  AddProperty(&p, "设备类", r.class_name);
  AddProperty(&p, "类 GUID", r.class_guid);
  AddProperty(&p, "服务", r.service);
  AddProperty(&p, "驱动键", r.driver_key);
  AddProperty(&p, "位置信息", r.location_info);
  AddProperty(&p, "父设备实例", r.parent_instance_id);
  AddProperty(&p, "USB 父实例", r.usb_instance_id);
  AddProperty(&p, "总线类型", r.bus_type);
  AddProperty(&p, "设备状态", r.device_status);
  AddProperty(&p, "集线器路径", report.hub_path);
  AddProperty(&p, "连接速度", report.speed);
  if (report.hub_port > 0) AddProperty(&p, "集线器端口", std::to_string(report.hub_port));
  if (r.problem_code != 0) {
    AddProperty(&p, "问题代码", std::to_string(r.problem_code) + "（" + r.problem_text + "）");
  }
  if (r.vendor_id != 0 || r.product_id != 0) {
    AddProperty(&p, "VID/PID", FormatVidPid(r.vendor_id, r.product_id));
  }
  return p;
}

// Errors and warnings in the report descriptor of every HID interface of
// configuration 0. This is what tells a firmware developer why Windows
// rejected the device: then the HID stack offers no collection to look at.
// An interface whose descriptor the hub does not hand out is passed over.
std::vector<UsbHidDescriptorFinding> ReadHidDescriptorFindings(UsbHub& hub, uint32_t port) {
  std::vector<UsbHidDescriptorFinding> findings;
  const std::vector<uint8_t> bytes = ReadConfiguration(hub, port, 0);
  if (bytes.empty()) return findings;
  const std::vector<UsbConfigurationRecord> configurations{ParseConfiguration(bytes)};
  std::vector<uint8_t> read;  // alternate settings repeat an interface number
  for (const UsbInterfaceRecord& interface : configurations.front().interfaces) {
    const uint8_t number = interface.bInterfaceNumber;
    if (interface.bInterfaceClass != kHidInterfaceClass ||
        std::find(read.begin(), read.end(), number) != read.end()) {
      continue;
    }
    read.push_back(number);
    uint32_t error = 0;
    const ReportDescriptorAttempt attempt = RequestReportDescriptor(
        hub, port, number, DeclaredReportDescriptorLength(configurations, number), &error);
    if (attempt.bytes.empty()) continue;
    const HidReportAnalysis analysis = AnalyzeHidReportDescriptor(
        attempt.bytes, UsbInterfaceAnalysisContext(configurations, number));
    for (const HidFinding& finding : analysis.findings) {
      if (finding.severity != HidSeverity::kInfo) findings.push_back({number, finding});
    }
  }
  return findings;
}

// One note per interface whose descriptor has errors: how many, and the first
// ones with their offsets. A device Windows failed to start most likely failed
// on them, and a note before them says so.
void AppendDescriptorErrorNotes(const std::vector<UsbHidDescriptorFinding>& findings,
                                const UsbNodeRecord& record, std::vector<std::string>* notes) {
  std::vector<std::string> added;
  for (size_t i = 0; i < findings.size();) {
    const uint8_t number = findings[i].interface_number;
    size_t errors = 0;
    std::string named;
    for (; i < findings.size() && findings[i].interface_number == number; ++i) {
      const HidFinding& finding = findings[i].finding;
      if (finding.severity != HidSeverity::kError) continue;
      if (++errors > kErrorsNamedPerNote) continue;
      if (!named.empty()) named += "；";
      named += "偏移 " + std::to_string(finding.offset) + "：" + finding.message;
    }
    if (errors == 0) continue;
    added.push_back("接口 " + std::to_string(number) + " 的 HID 报告描述符有 " +
                    std::to_string(errors) + " 个错误" +
                    (errors > kErrorsNamedPerNote ? "，前两个：" : "：") + named + "。");
  }
  if (added.empty()) return;
  if (record.problem_code == kProblemCannotStart || record.problem_code == kProblemDeviceFailed) {
    notes->push_back(
        "问题代码 " + std::to_string(record.problem_code) + "（" + record.problem_text +
        "）很可能由 HID 报告描述符中的错误引起：HID 类驱动无法解析有错误的报告描述符。");
  }
  notes->insert(notes->end(), added.begin(), added.end());
}

// The hub facts: port, connection information and the configuration probe.
void InspectHubPort(const UsbDiagnosticsSystem& system, const std::string& usb_id,
                    UsbDiagnosticsReport* report) {
  DeviceTree& tree = *system.nodes.tree;
  uint32_t port_node = 0;
  uint32_t port = 0;
  std::string message;
  if (!ResolveUsbDevicePort(tree, usb_id, &port_node, &port, &message)) {
    if (!message.empty()) report->notes.push_back("无法解析 USB 集线器端口：" + message);
    report->notes.push_back("该设备不在 USB 集线器端口上，无法用 ETW 抓包或一键复位。");
    return;
  }
  report->hub_port = port;
  std::string port_node_id;
  if (tree.NodeInstanceId(port_node, &port_node_id) == 0) report->hub_path = port_node_id;

  std::unique_ptr<UsbHub> hub;
  uint32_t hub_port = 0;
  message.clear();
  if (!OpenParentUsbHub(tree, *system.hubs, usb_id, &hub, &hub_port, &message)) {
    if (!message.empty()) report->notes.push_back(message);
    return;
  }
  HubConnectionInfo info;
  message.clear();
  if (ReadHubConnectionInfo(*hub, hub_port, &info, &message)) {
    report->speed = std::string(SpeedLabel(info.speed));
    report->device_descriptor_length = info.device_descriptor_length;
  } else {
    report->notes.push_back(message);
  }
  message.clear();
  report->configuration_descriptor_available =
      ProbeConfigurationDescriptor(*hub, hub_port, &message);
  if (!report->configuration_descriptor_available && !message.empty()) {
    report->notes.push_back(message);
  }
  if (report->configuration_descriptor_available) {
    report->hid_descriptor_findings = ReadHidDescriptorFindings(*hub, hub_port);
  }
}

std::string StatusNote(const UsbNodeRecord& r) {
  return "设备状态：" + r.device_status + "（问题代码 " + std::to_string(r.problem_code) + "：" +
         r.problem_text + "）。" + std::string(ProblemAdvice(r.problem_code));
}

}  // namespace

bool ReadHubConnectionInfo(UsbHub& hub, uint32_t port, HubConnectionInfo* info,
                           std::string* message) {
  std::vector<uint8_t> buffer(kConnectionInfoFixedSize, 0);
  PutPortNumber(&buffer, port);
  uint32_t returned = 0;
  uint32_t error = 0;
  bool ok = hub.GetConnectionInformation(&buffer, &returned, &error);
  if (!ok && error == kBufferTooSmall && returned > kConnectionInfoFixedSize &&
      returned <= kConnectionInfoMaximum) {
    // The second request must name the port again: a zeroed block would ask
    // about port 0, which no hub has.
    buffer.assign(std::max<size_t>(returned, kConnectionInfoRetryMinimum), 0);
    PutPortNumber(&buffer, port);
    error = 0;
    ok = hub.GetConnectionInformation(&buffer, &returned, &error);
  }
  if (!ok || buffer.size() < kConnectionInfoFixedSize) {
    if (message != nullptr) {
      *message = "读取 USB 集线器端口连接信息失败" + ErrorCodeSuffix(error);
    }
    return false;
  }
  info->device_descriptor_length = buffer[kConnectionDescriptorLengthOffset];
  info->speed = buffer[kConnectionSpeedByteOffset];
  return true;
}

bool ProbeConfigurationDescriptor(UsbHub& hub, uint32_t port, std::string* message) {
  std::vector<uint8_t> buffer = BuildDescriptorRequest(
      port, kConfigurationDescriptorType, 0, 0, kRecipientDevice, kConfigurationDescriptorLength);
  uint32_t returned = 0;
  uint32_t error = 0;
  if (!hub.GetDescriptorFromNodeConnection(&buffer, &returned, &error)) {
    if (message != nullptr) *message = "读取 USB 配置描述符失败" + ErrorCodeSuffix(error);
    return false;
  }
  return returned > kDescriptorRequestHeaderSize;
}

bool ProbeHidCollections(const UsbDiagnosticsSystem& system, const std::string& usb_instance_id,
                         bool* available, uint32_t* count, std::string* message) {
  *available = false;
  *count = 0;
  std::string first;
  const std::string wanted = AsciiUpper(usb_instance_id);
  std::vector<HidInterfaceNode> interfaces;
  uint32_t error = 0;
  if (!system.nodes.source->ListHidInterfaceNodes(&interfaces, &error)) {
    if (message != nullptr) *message = "无法枚举 HID 设备接口" + ErrorCodeSuffix(error);
    return false;
  }
  bool found = false;
  for (const HidInterfaceNode& collection : interfaces) {
    if (wanted.empty() || !BelongsToUsbDevice(*system.nodes.tree, collection.node, wanted)) {
      continue;
    }
    found = true;
    uint32_t open_error = 0;
    std::unique_ptr<HidDevice> device =
        system.hid->Open(collection.path, HidAccess::kAttributesOnly, false, &open_error);
    if (!device) {
      KeepFirst(&first, "无法打开 HID 集合设备" + ErrorCodeSuffix(open_error));
      continue;
    }
    std::unique_ptr<HidPreparsedData> preparsed = device->GetPreparsedData();
    if (!preparsed) {
      const uint32_t code = system.nodes.source->ThreadLastError();
      KeepFirst(&first, "HID 预解析数据不可用" + ErrorCodeSuffix(code));
      continue;
    }
    HidCaps caps;
    if (preparsed->GetCaps(&caps) == kHidpStatusSuccess) {
      *available = true;
      *count += caps.number_link_collection_nodes;
    }
  }
  if (!found) KeepFirst(&first, "未找到属于该 USB 设备的 HID 集合接口。");
  if (message != nullptr) *message = first;
  return true;
}

namespace {

// Present devices first; a phantom is still a node the tree remembers.
bool LocateDeviceNode(const UsbDiagnosticsSystem& system, const std::string& id, uint32_t* node) {
  uint32_t candidate = 0;
  if (system.nodes.tree->LocateNode(id, &candidate) != 0 &&
      system.nodes.source->LocateNodeOrPhantom(id, &candidate) != 0) {
    return false;
  }
  *node = candidate;
  return true;
}

std::vector<UsbNodeRecord> ReadAncestors(const UsbDiagnosticsSystem& system, uint32_t node) {
  DeviceTree& tree = *system.nodes.tree;
  std::vector<UsbNodeRecord> ancestors;
  uint32_t current = node;
  for (int i = 0; i < kAncestorCount; ++i) {
    uint32_t parent = 0;
    if (tree.ParentNode(current, &parent) != 0) break;
    std::string parent_id;
    if (tree.NodeInstanceId(parent, &parent_id) != 0 || parent_id.empty()) break;
    ancestors.push_back(BuildUsbNodeRecord(tree, *system.nodes.properties, parent, parent_id));
    current = parent;
  }
  return ancestors;
}

void InspectHidCollections(const UsbDiagnosticsSystem& system, const std::string& usb_id,
                           UsbDiagnosticsReport* report) {
  std::string hid_message;
  ProbeHidCollections(system, usb_id, &report->report_descriptor_available,
                      &report->hid_collection_count, &hid_message);
  if (!report->report_descriptor_available && !hid_message.empty()) {
    report->notes.push_back(hid_message);
  }
}

// The device's status leads the notes the inspections left; the summary
// follows them.
void AppendSummaryNotes(const UsbNodeRecord& record, bool located, UsbDiagnosticsReport* report) {
  std::vector<std::string>& notes = report->notes;
  if (record.problem_code != 0) notes.insert(notes.begin(), StatusNote(record));
  if (!located) notes.push_back("无法在设备树中定位该节点（设备可能已拔出）。");
  if (record.bus_type == "HID") {
    notes.push_back(
        "该节点是 HID 集合；USB 父设备实例为「" +
        (record.usb_instance_id.empty() ? std::string("未知") : record.usb_instance_id) + "」。");
  }
  if (report->device_descriptor_length > 0) {
    notes.push_back("USB 设备描述符长度：" + std::to_string(report->device_descriptor_length) +
                    " 字节。");
  }
  if (report->hid_collection_count > 0) {
    notes.push_back("HID 集合数：" + std::to_string(report->hid_collection_count) +
                    "（含嵌套 Link Collection）。");
  }
  if (!report->configuration_descriptor_available) {
    notes.push_back("USB 配置描述符不可读（设备可能未启动，或集线器拒绝了 GET_DESCRIPTOR 请求）。");
  }
  if (!report->report_descriptor_available) {
    notes.push_back("HID 报告描述符不可读（没有可用的 HID 集合或 HID 类驱动未加载）。");
  }
  // Before the all-clear, which a broken descriptor must not be followed by.
  AppendDescriptorErrorNotes(report->hid_descriptor_findings, record, &notes);
  if (notes.empty()) notes.push_back("未发现问题：设备已启动，USB / HID 描述符可读取。");
}

}  // namespace

bool ReadUsbDiagnostics(const UsbDiagnosticsSystem& system, const std::string& instance_id,
                        UsbDiagnosticsReport* report, std::string* message) {
  if (report == nullptr) {
    if (message != nullptr) *message = "输出参数为空";
    return false;
  }
  *report = UsbDiagnosticsReport();

  std::vector<UsbNodeRecord> listing;
  std::string listing_message;
  if (!ListUsbDeviceNodes(system.nodes, true, &listing, &listing_message)) {
    if (message != nullptr) *message = listing_message;
    return false;
  }
  const auto listed =
      std::find_if(listing.begin(), listing.end(), [&instance_id](const UsbNodeRecord& r) {
        return EqualsIgnoreAsciiCase(r.instance_id, instance_id);
      });
  const bool found = listed != listing.end();
  uint32_t node = 0;
  bool located = !instance_id.empty() && LocateDeviceNode(system, instance_id, &node);
  if (!found && !located) {
    report->notes.push_back("未找到设备节点「" + EchoedInstanceId(instance_id) +
                            "」：设备可能已拔出，或实例 ID 不属于 USB / HID 设备树。");
    return true;
  }

  UsbNodeRecord record =
      found ? std::move(*listed)
            : BuildUsbNodeRecord(*system.nodes.tree, *system.nodes.properties, node, instance_id);
  if (record.instance_id.empty()) record.instance_id = instance_id;
  if (!located && !record.instance_id.empty()) {
    located = LocateDeviceNode(system, record.instance_id, &node);
  }
  if (located) report->ancestors = ReadAncestors(system, node);

  const std::string usb_id =
      record.usb_instance_id.empty() ? record.instance_id : record.usb_instance_id;
  InspectHubPort(system, usb_id, report);
  InspectHidCollections(system, usb_id, report);
  report->properties = BuildProperties(record, *report);
  AppendSummaryNotes(record, located, report);

  report->has_node = true;
  report->node = std::move(record);
  return true;
}

EncodableValue UsbDiagnosticsMap(const UsbDiagnosticsReport& report) {
  EncodableMap map;
  auto put = [&map](const char* key, EncodableValue value) {
    map[EncodableValue(key)] = std::move(value);
  };
  put("node", report.has_node ? UsbNodeMap(report.node) : EncodableValue());
  EncodableList ancestors;
  for (const UsbNodeRecord& ancestor : report.ancestors) ancestors.push_back(UsbNodeMap(ancestor));
  put("ancestors", EncodableValue(std::move(ancestors)));
  EncodableMap properties;
  for (const auto& property : report.properties) {
    properties[EncodableValue(property.first)] = EncodableValue(property.second);
  }
  put("properties", EncodableValue(std::move(properties)));
  EncodableList notes;
  for (const std::string& note : report.notes) notes.push_back(EncodableValue(note));
  put("notes", EncodableValue(std::move(notes)));
  put("hubPath", EncodableValue(report.hub_path));
  put("hubPort", EncodableValue(static_cast<int64_t>(report.hub_port)));
  put("speed", EncodableValue(report.speed));
  put("deviceDescriptorLength",
      EncodableValue(static_cast<int64_t>(report.device_descriptor_length)));
  put("configurationDescriptorAvailable",
      EncodableValue(report.configuration_descriptor_available));
  put("reportDescriptorAvailable", EncodableValue(report.report_descriptor_available));
  put("hidCollectionCount", EncodableValue(static_cast<int64_t>(report.hid_collection_count)));
  EncodableList findings;
  for (const UsbHidDescriptorFinding& item : report.hid_descriptor_findings) {
    findings.push_back(EncodableValue(EncodableMap{
        {EncodableValue("interfaceNumber"),
         EncodableValue(static_cast<int64_t>(item.interface_number))},
        {EncodableValue("severity"), EncodableValue(HidSeverityName(item.finding.severity))},
        {EncodableValue("offset"), EncodableValue(static_cast<int64_t>(item.finding.offset))},
        {EncodableValue("code"), EncodableValue(item.finding.code)},
        {EncodableValue("message"), EncodableValue(item.finding.message)}}));
  }
  put("hidDescriptorFindings", EncodableValue(std::move(findings)));
  return EncodableValue(std::move(map));
}

}  // namespace vek_native
