#include "usb/usb_diagnostics.h"
#include "usb/usb_node.h"
#include "usb/usb_node_listing.h"
#include "usb/usb_operations.h"

#include <gtest/gtest.h>

#include <set>

#include "support/hid/fake_hid_device_api.h"
#include "unit/hid/hub_fake.h"
#include "unit/usb/usb_fakes.h"
#include "usb/usb_port.h"

namespace vek_native {
namespace {

using Notes = std::vector<std::string>;

using vek_test::kRootHubId;
constexpr char kDeviceId[] = "USB\\VID_12ab&PID_34CD\\5&2";
constexpr char kCollectionId[] = "HID\\VID_12AB&PID_34CD&MI_00&COL01\\6&3";
constexpr char kCollectionPath[] = "\\\\?\\hid#vid_12ab&pid_34cd&col01#6&3";

fake::FakeHidDeviceSpec Collection(const std::string& path = kCollectionPath) {
  fake::FakeHidDeviceSpec device;
  device.path = path;
  device.caps.number_link_collection_nodes = 2;
  return device;
}

// A root hub with a high-speed composite device on port 3 whose one HID
// collection holds two link collections.
class UsbDiagnosticsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device_ = machine_.Add(kDeviceId, machine_.Add(kRootHubId, 0), u"Port_#0003.Hub_#0002");
    const uint32_t interface = machine_.Add("USB\\VID_12AB&PID_34CD&MI_00\\7&4", device_);
    machine_.hid_interfaces = {{kCollectionPath, machine_.Add(kCollectionId, interface)}};
    hub_ = &hubs_.AddHub(Utf8ToUtf16(HubInterfacePath(kRootHubId)));
    vek_test::FakeUsbDevice& port = hub_->ports[3];
    port.device_descriptor = {18, 1, 0, 2, 0, 0, 0, 64, 0xab, 0x12, 0xcd, 0x34, 0, 1, 1, 2, 0, 1};
    port.Set(2, 0, 0, kRecipientDevice, {9, 2, 34, 0, 1, 1, 0, 0xa0, 50});
    hid_.Add(Collection());
  }
  UsbDiagnosticsReport Read(const std::string& id) {
    UsbDiagnosticsReport report;
    EXPECT_TRUE(ReadUsbDiagnostics({machine_.System(), &hubs_, &hid_}, id, &report, nullptr));
    EncodableValue map;  // as the channel sends it
    EXPECT_TRUE(ReadUsbDiagnosticsMap({machine_.System(), &hubs_, &hid_}, id, &map, nullptr));
    EXPECT_EQ(hubs_.OpenHandles(), 0) << "a hub was left open";
    return report;
  }

  vek_test::FakeMachine machine_;
  vek_test::FakeUsbHubApi hubs_;
  fake::FakeHidDeviceApi hid_;
  vek_test::FakeHubState* hub_ = nullptr;
  uint32_t device_ = 0;
};

TEST_F(UsbDiagnosticsTest, AHealthyDeviceReportsHubFactsAndCollections) {
  // Each registry string the node has reads as its CM_DRP_ number.
  for (uint32_t drp : {1, 5, 8, 9, 10, 13, 14})
    machine_.Node(device_).strings[DevNodeProperty{drp}] = "drp" + std::to_string(drp);
  const UsbDiagnosticsReport r = Read("usb\\vid_12AB&pid_34cd\\5&2");
  EXPECT_EQ(std::make_tuple(r.has_node, r.node.instance_id, r.ancestors.size(),
                            r.ancestors.at(0).instance_id, r.configuration_descriptor_available,
                            r.report_descriptor_available),
            std::make_tuple(true, kDeviceId, 1u, kRootHubId, true, true));
  EXPECT_EQ(r.notes,
            (Notes{"USB 设备描述符长度：18 字节。", "HID 集合数：2（含嵌套 Link Collection）。"}));
  std::string properties;  // in the map's order: by the labels' bytes
  for (const auto& [label, value] : r.properties) properties += label + "=" + value + "; ";
  EXPECT_EQ(
      properties,
      "USB 父实例=USB\\VID_12ab&PID_34CD\\5&2; VID/PID=12ab:34cd; 位置信息=drp14; "
      "友好名称=drp13; 总线类型=USB; 服务=drp5; 父设备实例=USB\\ROOT_HUB30\\4&1; 类 GUID=drp9; "
      "设备描述=drp1; 设备状态=已启动; 设备类=drp8; 连接速度=高速（480 Mbps）; 集线器端口=3; "
      "集线器路径=USB\\VID_12ab&PID_34CD\\5&2; 驱动键=drp10; ");
  // What the hub refuses is told before the summary.
  const std::string config_note =
      "USB 配置描述符不可读（设备可能未启动，或集线器拒绝了 GET_DESCRIPTOR 请求）。";
  hub_->ports[3].refuse_all = true;
  EXPECT_EQ(Read(kDeviceId).notes,
            (Notes{"读取 USB 配置描述符失败（错误码 31）", r.notes[0], r.notes[1], config_note}));
  hub_->refused_access = {HubAccess::kReadWrite, HubAccess::kRead};
  EXPECT_EQ(Read(kDeviceId).notes,
            (Notes{"无法打开 USB 集线器 " + HubInterfacePath(kRootHubId) + "（错误码 5）",
                   r.notes[1], config_note}));
  EXPECT_FALSE(ReadUsbDiagnostics({machine_.System(), &hubs_, &hid_}, kDeviceId, nullptr, nullptr));
}

// A HID collection, named in any case, names the USB device above its
// interface, and five ancestors at most; a node of another bus is HID by its
// class, and VID/PID shows when either half is known.
TEST_F(UsbDiagnosticsTest, HidNodesAndVidPid) {
  UsbDiagnosticsReport r = Read(AsciiLower(kCollectionId));
  EXPECT_EQ(
      std::make_tuple(r.node.bus_type, r.node.is_hid_collection, r.hub_path, r.ancestors.size()),
      std::make_tuple("HID", true, kDeviceId, 3u));
  EXPECT_EQ(r.notes.at(0),
            std::string("该节点是 HID 集合；USB 父设备实例为「") + kDeviceId + "」。");
  // An absent node's note quotes the caller's ID cut short, never whole.
  EXPECT_EQ(Read(std::string(100000, 'X')).notes,
            Notes{"未找到设备节点「" + std::string(200, 'X') +
                  "…」：设备可能已拔出，或实例 ID 不属于 USB / HID 设备树。"});
  uint32_t deep = machine_.hid_interfaces[0].node;
  for (const char* id : {"HID\\D\\1", "HID\\D\\2", "HID\\D\\3"}) deep = machine_.Add(id, deep);
  EXPECT_EQ(Read("HID\\D\\3").ancestors.size(), 5u);
  machine_.Add("USB\\VID_12G4&PID_9F01", device_);  // the ID may end with the product ID
  EXPECT_EQ(Read("USB\\VID_12G4&PID_9F01").properties.at("VID/PID"), "0000:9f01");
  machine_.Node(machine_.Add("ACPI\\PNP0303\\1", 0)).strings[DevNodeProperty::kClass] = "hidclass";
  r = Read("ACPI\\PNP0303\\1");
  EXPECT_EQ(std::make_tuple(r.node.bus_type, r.node.usb_instance_id, r.properties.count("VID/PID"),
                            r.properties.count("集线器端口")),
            std::make_tuple("HID", "", 0u, 0u));
}

// Each problem Windows names has a text or advice of its own, and no code
// next to one borrows it.
TEST(UsbNodeTextTest, KnownProblems) {
  const std::set<uint32_t> named = {1, 10, 14, 18, 19, 24, 28, 31, 43, 45};
  const std::set<uint32_t> advised = {10, 14, 18, 19, 22, 24, 28, 31, 43, 45};
  for (uint32_t code = 1; code < 50; ++code) {
    EXPECT_EQ(ProblemText(code) == "错误代码 " + std::to_string(code), named.count(code) == 0)
        << code;
    EXPECT_EQ(ProblemAdvice(code).empty(), advised.count(code) == 0) << code;
  }
}

// Status and problem lead the notes, with the advice for the problem.
TEST_F(UsbDiagnosticsTest, StatusRules) {
  using Status =
      std::optional<std::tuple<uint32_t, uint32_t, uint32_t>>;  // result, status, problem
  const std::tuple<Status, const char*, const char*, const char*> cases[] = {
      {std::make_tuple(0, 0, 0), "未知", "", ""},
      {std::make_tuple(0x13, kDnStarted, 10), "未知", "", ""},  // the status is unreadable
      {std::make_tuple(0, 0, 22), "已禁用", "22（错误代码 22）",
       "设备状态：已禁用（问题代码 22：错误代码 22）。设备被禁用，请在设备管理器中重新启用。"},
      {std::make_tuple(0, kDnStarted, 1), "有问题", "1（未配置）",
       "设备状态：有问题（问题代码 1：未配置）。"}};
  for (const auto& [status, text, problem, first_note] : cases) {
    machine_.Node(device_).status = status;
    const UsbDiagnosticsReport r = Read(kDeviceId);
    EXPECT_EQ(r.properties.at("设备状态"), text);
    EXPECT_EQ(r.properties.count("问题代码") ? r.properties.at("问题代码") : "", problem);
    EXPECT_EQ(r.notes.front().rfind("设备状态：", 0) == 0 ? r.notes.front() : "", first_note);
  }
  // A phantom: its status read fails (problem 45), it has no port and no
  // collection, and nothing can be read from it.
  machine_.Node(device_).present = false;
  machine_.Node(device_).status.reset();
  machine_.hid_interfaces.clear();
  const UsbDiagnosticsReport r = Read(kDeviceId);
  EXPECT_EQ(r.ancestors.size(), 1u);
  EXPECT_EQ(
      r.notes,
      (Notes{
          "设备状态：有问题（问题代码 45：设备未连接）。设备当前未连接（幽灵节点），可忽略或卸载。",
          "无法解析 USB 集线器端口：无法定位 USB 设备节点（CM 错误 13）",
          "该设备不在 USB 集线器端口上，无法用 ETW 抓包或一键复位。",
          "未找到属于该 USB 设备的 HID 集合接口。",
          "USB 配置描述符不可读（设备可能未启动，或集线器拒绝了 GET_DESCRIPTOR 请求）。",
          "HID 报告描述符不可读（没有可用的 HID 集合或 HID 类驱动未加载）。"}));
}

// Collections up to seven nodes below the USB device count, another device's
// not at all; a problem met is told.
TEST(UsbDiagnosticsProbeTest, HidCollections) {
  const std::tuple<std::set<HidAccess>, bool, uint32_t, uint32_t, const char*> cases[] = {
      {{HidAccess::kAttributesOnly}, true, 0, 4, ""},
      {{}, true, 0, 2, "无法打开 HID 集合设备（错误码 5）"},
      {{HidAccess::kAttributesOnly}, false, 0, 2, "HID 预解析数据不可用（错误码 1）"},
      {{HidAccess::kAttributesOnly}, true, 8, 0, "无法枚举 HID 设备接口（错误码 8）"}};
  for (const auto& [opens, preparsed, list_error, count, text] : cases) {
    fake::FakeHidDeviceSpec first = Collection();
    first.opens = opens;
    first.has_preparsed_data = preparsed;
    fake::FakeHidDeviceApi hid({first, Collection("\\\\?\\hid#deep")});
    vek_test::FakeMachine machine;
    uint32_t node = machine.Add(kDeviceId, 0);
    const uint32_t collection = machine.Add(kCollectionId, node);
    for (int i = 0; i < 7; ++i) node = machine.Add("ROOT\\N\\" + std::to_string(i), node);
    machine.hid_interfaces = {{kCollectionPath, collection},
                              {"\\\\?\\hid#gone", machine.Add("USB\\VID_9\\1", 0)},  // not ours
                              {"\\\\?\\hid#deep", node},
                              {"\\\\?\\hid#deep", machine.Add("ROOT\\N\\7", node)}};
    machine.hid_list_error = list_error;
    bool available = list_error != 0;
    uint32_t seen = 99;
    std::string message;
    EXPECT_EQ(ProbeHidCollections({machine.System(), nullptr, &hid}, "usb\\vid_12ab&pid_34cd\\5&2",
                                  &available, &seen, &message),
              list_error == 0);
    EXPECT_EQ(std::make_tuple(available, seen, message),
              std::make_tuple(list_error == 0, count, text));
  }
}

// A hub that first wants a larger buffer for its connection information,
// then answers `error`.
class GrowingHub : public vek_test::FakeUsbHub {
 public:
  using FakeUsbHub::FakeUsbHub;
  bool GetConnectionInformation(std::vector<uint8_t>* buffer, uint32_t* returned,
                                uint32_t* error_out) override {
    requests.emplace_back(buffer->size(), (*buffer)[0]);
    *returned = 40;
    *error_out = requests.size() == 1 ? 122 : error;
    return *error_out == 0;
  }
  uint32_t error = 0;
  std::vector<std::pair<size_t, uint8_t>> requests;  // buffer size, port
};

// Connection information is asked again, once, naming the port again, with
// the size the hub wants but room for one pipe at least; a configuration
// descriptor answered without data is no failure of the hub.
TEST(UsbDiagnosticsProbeTest, HubRequests) {
  vek_test::FakeHubState hub_state;
  GrowingHub growing(&hub_state);
  HubConnectionInfo info;
  std::string message;
  EXPECT_TRUE(ReadHubConnectionInfo(growing, 7, &info, &message));
  EXPECT_EQ(growing.requests, (std::vector<std::pair<size_t, uint8_t>>{{35, 7}, {52, 7}}));
  growing.error = 31;  // the first request now fails outright
  EXPECT_FALSE(ReadHubConnectionInfo(growing, 7, &info, &message));
  EXPECT_EQ(message, "读取 USB 集线器端口连接信息失败（错误码 31）");
  EXPECT_EQ(growing.requests.size(), 3u);  // not asked again
  vek_test::FakeHubState state;
  state.ports[2].Set(2, 0, 0, kRecipientDevice, {});
  vek_test::FakeUsbHub hub(&state);
  message.clear();
  EXPECT_FALSE(ProbeConfigurationDescriptor(hub, 2, &message));
  EXPECT_EQ(message, "");
  state.ports[2].refuse_all = true;
  EXPECT_FALSE(ProbeConfigurationDescriptor(hub, 2, &message));
  EXPECT_EQ(message, "读取 USB 配置描述符失败（错误码 31）");
}

using vek_test::FakeMachine;
using vek_test::FakeNode;

std::vector<UsbNodeRecord> List(FakeMachine& machine, bool include_hid = false) {
  std::vector<UsbNodeRecord> nodes(1);  // stale, like the message
  std::string message = "stale";
  EXPECT_TRUE(ListUsbDeviceNodes(machine.System(), include_hid, &nodes, &message));
  EXPECT_EQ(message, "");
  EncodableValue maps;  // as the channel sends them
  EXPECT_TRUE(ListUsbDeviceNodeMaps(machine.System(), include_hid, &maps, nullptr));
  return nodes;
}

std::vector<std::string> Ids(const std::vector<UsbNodeRecord>& nodes) {
  std::vector<std::string> ids;
  for (const UsbNodeRecord& node : nodes) ids.push_back(node.instance_id);
  return ids;
}

// A node enters once, from the first set holding it and in that set's
// spelling; problem devices follow the others, each group in instance ID
// order ignoring case.
TEST(UsbNodeListingTest, EachNodeOnceProblemsLast) {
  FakeMachine machine;
  const uint32_t hub =
      machine.Add({"USB\\ROOT_HUB30\\4&1"}, {{DeviceInfoClass::kUsbSetupClass, "", 0}});
  const uint32_t flags = kDigcfPresent | kDigcfDeviceInterface;
  const uint32_t device =
      machine.Add({"USB\\VID_0000\\5&2", hub}, {{DeviceInfoClass::kUsbDeviceInterface, "", flags}});
  machine.Add(FakeNode(), {{DeviceInfoClass::kHidSetupClass, "", 0}});  // an ID that reads empty
  machine.sets[{DeviceInfoClass::kNone, "USB", FakeMachine::kAllUsb}] = {
      {device, "usb\\vid_0000\\5&2"}, {hub, ""}};
  machine.failing_set = {DeviceInfoClass::kHidInterface, "", flags};  // adds nothing
  for (const auto& [id, problem] :
       std::vector<std::pair<std::string, uint32_t>>{{"USB\\VID_0003\\1", 22},
                                                     {"USB\\VID_0002\\1", 43},
                                                     {"usb\\vid_0009\\1", 0},
                                                     {"USB\\VID_000A\\1", 0},
                                                     {"USB\\VID_0001\\1", 45}}) {
    FakeNode node{id};
    if (problem == 45) node.status.reset();  // a phantom
    if (problem != 45) node.status = std::make_tuple(0u, kDnStarted, problem);
    // A phantom of another setup class shows only in the class's all-devices set.
    machine.Add(node, problem == 45 ? FakeMachine::SetKey{DeviceInfoClass::kOtherSetupClass, "", 0}
                                    : FakeMachine::SetKey{DeviceInfoClass::kNone, "USB",
                                                          FakeMachine::kAllUsb});
  }
  EXPECT_EQ(Ids(List(machine)),
            (std::vector<std::string>{"USB\\ROOT_HUB30\\4&1", "USB\\VID_0000\\5&2",
                                      "usb\\vid_0009\\1", "USB\\VID_000A\\1", "USB\\VID_0001\\1",
                                      "USB\\VID_0002\\1", "USB\\VID_0003\\1"}));
}

// Nodes above a HID collection are marked as carrying it up to four steps
// up, and so is its USB device wherever it sits.
TEST(UsbNodeListingTest, NodesAboveACollectionAreMarked) {
  const std::pair<std::vector<const char*>, std::vector<bool>> cases[] = {
      {{"USB\\VID_1234&PID_5678\\9&1", "USB\\VID_1234&PID_5678&MI_00\\9&2", "ROOT\\A\\1",
        "ROOT\\B\\1", "ROOT\\C\\1"},
       {true, true, true, true, true}},
      {{"ROOT\\A\\1", "ROOT\\B\\1", "ROOT\\C\\1", "ROOT\\D\\1", "ROOT\\E\\1"},
       {false, true, true, true, true}}};
  for (const auto& [chain, marked] : cases) {
    FakeMachine machine;
    uint32_t parent = 0;
    for (const char* id : chain) parent = machine.Add(id, parent);
    machine.Add({"HID\\VID_1234&PID_5678&MI_00&COL01\\A&1", parent},
                {{DeviceInfoClass::kNone, "HID", kDigcfPresent | kDigcfAllClasses}});
    for (bool include_hid : {false, true}) {
      const std::vector<UsbNodeRecord> nodes = List(machine, include_hid);
      ASSERT_EQ(nodes.size(), chain.size() + (include_hid ? 1 : 0));
      std::vector<bool> seen(chain.size());
      for (const UsbNodeRecord& node : nodes) {
        const auto at = static_cast<size_t>(
            std::find(chain.begin(), chain.end(), node.instance_id) - chain.begin());
        if (at < chain.size()) seen[at] = node.has_hid_collections;
        EXPECT_TRUE(at < chain.size() || !node.has_hid_collections);  // the collection is not
      }
      EXPECT_EQ(seen, marked);
    }
  }
}

}  // namespace
}  // namespace vek_native
