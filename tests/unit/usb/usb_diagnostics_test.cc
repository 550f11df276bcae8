#include "usb/usb_diagnostics.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "support/hid/fake_hid_device_api.h"
#include "unit/hid/hub_fake.h"
#include "unit/usb/usb_fakes.h"
#include "usb/usb_port.h"

namespace vek_native {
namespace {

using vek_test::FakeNodeWorld;

constexpr char kHubId[] = "USB\\ROOT_HUB30\\4&1";
constexpr char kDeviceId[] = "USB\\VID_12ab&PID_34CD\\5&2";
constexpr char kCollectionId[] = "HID\\VID_12AB&PID_34CD&COL01\\6&3";
constexpr char kCollectionPath[] = "\\\\?\\hid#vid_12ab&pid_34cd&col01#6&3#{4d1e55b2}";

constexpr char kNoConfigurationNote[] =
    "USB 配置描述符不可读（设备可能未启动，或集线器拒绝了 GET_DESCRIPTOR 请求）。";
constexpr char kNoReportNote[] = "HID 报告描述符不可读（没有可用的 HID 集合或 HID 类驱动未加载）。";
constexpr char kNoCollectionNote[] = "未找到属于该 USB 设备的 HID 集合接口。";
constexpr char kNotOnPortNote[] = "该设备不在 USB 集线器端口上，无法用 ETW 抓包或一键复位。";

std::vector<uint8_t> DeviceDescriptor() {
  return {18, 1, 0x00, 0x02, 0, 0, 0, 64, 0xab, 0x12, 0xcd, 0x34, 0, 1, 1, 2, 0, 1};
}

// A root hub with a HID device on port 3 whose one collection answers its
// caps with two link collections.
class UsbDiagnosticsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hub_ = world_.AddStarted(kHubId, 0);
    device_ = world_.AddStarted(kDeviceId, hub_);
    world_.tree.Node(device_).location = u"Port_#0003.Hub_#0002";
    collection_ = world_.AddStarted(kCollectionId, device_);
    world_.source.AddToSet(DeviceInfoClass::kUsbDeviceInterface, nullptr,
                           kDigcfPresent | kDigcfDeviceInterface, device_);
    world_.source.AddToSet(DeviceInfoClass::kNone, "USB", kDigcfAllClasses, hub_);
    world_.source.AddToSet(DeviceInfoClass::kNone, "HID", kDigcfPresent | kDigcfAllClasses,
                           collection_);

    vek_test::FakeHubState& hub = hubs_.AddHub(Utf8ToUtf16(HubInterfacePath(kHubId)));
    vek_test::FakeUsbDevice& port = hub.ports[3];
    port.device_descriptor = DeviceDescriptor();
    port.speed = 2;
    port.Set(2, 0, 0, kRecipientDevice, {9, 2, 34, 0, 1, 1, 0, 0xa0, 50});

    fake::FakeHidDeviceSpec spec;
    spec.path = kCollectionPath;
    spec.caps.number_link_collection_nodes = 2;
    hid_.Add(spec);
    world_.source.hid_interfaces.push_back({kCollectionPath, collection_});
  }

  UsbDiagnosticsSystem System() { return {world_.System(), &hubs_, &hid_}; }

  UsbDiagnosticsReport Read(const std::string& id) {
    UsbDiagnosticsReport report;
    std::string message;
    EXPECT_TRUE(ReadUsbDiagnostics(System(), id, &report, &message)) << message;
    EXPECT_EQ(hubs_.OpenHandles(), 0) << "a hub was left open";
    return report;
  }

  FakeNodeWorld world_;
  vek_test::FakeUsbHubApi hubs_;
  fake::FakeHidDeviceApi hid_;
  uint32_t hub_ = 0, device_ = 0, collection_ = 0;
};

TEST_F(UsbDiagnosticsTest, AHealthyDeviceReportsHubFactsAndCollections) {
  const UsbDiagnosticsReport r = Read("usb\\vid_12AB&pid_34cd\\5&2");
  ASSERT_TRUE(r.has_node);
  EXPECT_EQ(r.node.instanceId, kDeviceId);
  ASSERT_EQ(r.ancestors.size(), 1u);
  EXPECT_EQ(r.ancestors[0].instanceId, kHubId);
  EXPECT_EQ(r.hubPort, 3u);
  EXPECT_EQ(r.hubPath, kDeviceId);
  EXPECT_EQ(r.speed, "高速（480 Mbps）");
  EXPECT_EQ(r.deviceDescriptorLength, 18u);
  EXPECT_TRUE(r.configurationDescriptorAvailable);
  EXPECT_TRUE(r.reportDescriptorAvailable);
  EXPECT_EQ(r.hidCollectionCount, 2u);
  EXPECT_EQ(r.notes, (std::vector<std::string>{"USB 设备描述符长度：18 字节。",
                                               "HID 集合数：2（含嵌套 Link Collection）。"}));
  EXPECT_EQ(r.properties.at("集线器端口"), "3");
  EXPECT_EQ(r.properties.at("集线器路径"), kDeviceId);
  EXPECT_EQ(r.properties.at("设备状态"), "已启动");
  EXPECT_EQ(r.properties.at("USB 父实例"), kDeviceId);
  EXPECT_EQ(r.properties.count("问题代码"), 0u);
  EXPECT_EQ(r.properties.count("友好名称"), 0u);  // empty values are left out

  const EncodableMap map = std::get<EncodableMap>(UsbDiagnosticsMap(r));
  EXPECT_EQ(map.size(), 11u);
  EXPECT_EQ(map.at(EncodableValue("hubPort")), EncodableValue(int64_t{3}));
  EXPECT_EQ(std::get<EncodableList>(map.at(EncodableValue("ancestors"))).size(), 1u);
}

TEST_F(UsbDiagnosticsTest, AnUnknownIdHasNoNodeAndOneNote) {
  const UsbDiagnosticsReport r = Read("USB\\VID_FFFF&PID_FFFF\\NONE");
  EXPECT_FALSE(r.has_node);
  EXPECT_EQ(r.notes, (std::vector<std::string>{
                         "未找到设备节点「USB\\VID_FFFF&PID_FFFF\\NONE」：设备可能已拔出，或实例 "
                         "ID 不属于 USB / HID 设备树。"}));
  EXPECT_TRUE(r.properties.empty());
  EXPECT_EQ(r.hubPort, 0u);
  const EncodableMap map = std::get<EncodableMap>(UsbDiagnosticsMap(r));
  EXPECT_TRUE(map.at(EncodableValue("node")).IsNull());
}

TEST_F(UsbDiagnosticsTest, StatusAndProblemComeFirst) {
  struct Case {
    FakeNodeWorld::Properties::State state;
    const char* status;
    const char* problem_property;  // "" when absent
    const char* first_note;        // the status note, "" when there is none
  } cases[] = {
      {{0, kDnStarted, 0}, "已启动", "", ""},
      {{0, 0, 0}, "未知", "", ""},
      {{0, 0, 22},
       "已禁用",
       "22（错误代码 22）",
       "设备状态：已禁用（问题代码 22：错误代码 22）。设备被禁用，请在设备管理器中重新启用。"},
      {{0, kDnStarted, 1}, "有问题", "1（未配置）", "设备状态：有问题（问题代码 1：未配置）。"},
  };
  for (const Case& c : cases) {
    world_.properties.states[device_] = c.state;
    const UsbDiagnosticsReport r = Read(kDeviceId);
    EXPECT_EQ(r.properties.at("设备状态"), c.status);
    const std::string problem =
        r.properties.count("问题代码") != 0 ? r.properties.at("问题代码") : "";
    EXPECT_EQ(problem, c.problem_property) << c.status;
    const std::string first = r.notes.empty() ? "" : r.notes.front();
    if (*c.first_note != '\0') {
      EXPECT_EQ(first, c.first_note);
    } else {
      EXPECT_EQ(first.rfind("设备状态：", 0), std::string::npos) << first;
    }
  }
}

TEST_F(UsbDiagnosticsTest, APhantomIsLocatedButHasNoPort) {
  world_.tree.Node(device_).present = false;
  world_.properties.states.erase(device_);  // its status read fails: problem 45
  world_.source.hid_interfaces.clear();
  const UsbDiagnosticsReport r = Read(kDeviceId);
  EXPECT_EQ(r.node.problemCode, 45u);
  EXPECT_EQ(r.node.problemText, "设备未连接");
  EXPECT_EQ(r.node.deviceStatus, "有问题");
  EXPECT_EQ(r.ancestors.size(), 1u);
  EXPECT_EQ(
      r.notes,
      (std::vector<std::string>{
          "设备状态：有问题（问题代码 45：设备未连接）。设备当前未连接（幽灵节点），可忽略或卸载。",
          "无法解析 USB 集线器端口：无法定位 USB 设备节点（CM 错误 13）", kNotOnPortNote,
          kNoCollectionNote, kNoConfigurationNote, kNoReportNote}));
}

TEST_F(UsbDiagnosticsTest, AListedNodeTheTreeNoLongerKnows) {
  const std::string gone = "USB\\VID_12AB&PID_34CD\\GONE";
  world_.source.AddToSet(DeviceInfoClass::kNone, "USB", kDigcfAllClasses, device_, gone);
  const UsbDiagnosticsReport r = Read(gone);
  ASSERT_TRUE(r.has_node);
  EXPECT_TRUE(r.ancestors.empty());
  ASSERT_FALSE(r.notes.empty());
  EXPECT_NE(
      std::find(r.notes.begin(), r.notes.end(), "无法在设备树中定位该节点（设备可能已拔出）。"),
      r.notes.end());
}

TEST_F(UsbDiagnosticsTest, AHidCollectionNamesItsUsbDevice) {
  const UsbDiagnosticsReport r = Read(kCollectionId);
  EXPECT_EQ(r.node.busType, "HID");
  EXPECT_TRUE(r.node.isHidCollection);
  EXPECT_EQ(r.hubPath, kDeviceId);
  EXPECT_EQ(r.hubPort, 3u);
  EXPECT_EQ(r.ancestors.size(), 2u);
  EXPECT_NE(std::find(r.notes.begin(), r.notes.end(),
                      std::string("该节点是 HID 集合；USB 父设备实例为「") + kDeviceId + "」。"),
            r.notes.end());
}

TEST_F(UsbDiagnosticsTest, VidPidPropertyIsLowerCaseHex) {
  struct Case {
    const char* id;
    uint32_t vendor, product;
    const char* property;  // "" when absent
  } cases[] = {
      {kDeviceId, 4779, 13517, "12ab:34cd"},
      {"USB\\VID_12G4&PID_0001\\1", 0, 1, "0000:0001"},
      {"ROOT\\SYSTEM\\0000", 0, 0, ""},
  };
  for (const Case& c : cases) {
    if (c.id != std::string(kDeviceId)) {
      world_.source.AddToSet(DeviceInfoClass::kNone, "USB", kDigcfAllClasses,
                             world_.AddStarted(c.id, hub_));
    }
    const UsbDiagnosticsReport r = Read(c.id);
    EXPECT_EQ(r.node.vendorId, c.vendor) << c.id;
    EXPECT_EQ(r.node.productId, c.product) << c.id;
    const std::string property = r.properties.count("VID/PID") ? r.properties.at("VID/PID") : "";
    EXPECT_EQ(property, c.property) << c.id;
  }
}

TEST_F(UsbDiagnosticsTest, WithoutAReportTheCallFails) {
  std::string message;
  EXPECT_FALSE(ReadUsbDiagnostics(System(), kDeviceId, nullptr, &message));
  EXPECT_EQ(message, "输出参数为空");
}

TEST_F(UsbDiagnosticsTest, HidCollectionProbe) {
  struct Case {
    const char* name;
    std::vector<fake::FakeHidDeviceSpec> extra;  // more collections of the device
    bool opens;                                  // the main collection opens
    bool has_preparsed;
    uint32_t list_error;
    bool result, available;
    uint32_t count;
    const char* message;
  } cases[] = {
      {"caps", {}, true, true, 0, true, true, 2, ""},
      {"open refused", {}, false, true, 0, true, false, 0, "无法打开 HID 集合设备（错误码 5）"},
      {"no preparsed data", {}, true, false, 0, true, false, 0, "HID 预解析数据不可用（错误码 1）"},
      {"list fails", {}, true, true, 8, false, false, 0, "无法枚举 HID 设备接口（错误码 8）"},
  };
  for (const Case& c : cases) {
    fake::FakeHidDeviceSpec spec;
    spec.path = kCollectionPath;
    spec.caps.number_link_collection_nodes = 2;
    if (!c.opens) spec.opens.clear();
    spec.has_preparsed_data = c.has_preparsed;
    fake::FakeHidDeviceApi hid({spec});
    world_.source.hid_list_error = c.list_error;
    UsbDiagnosticsSystem system = System();
    system.hid = &hid;
    bool available = !c.available;
    uint32_t count = 99;
    std::string message;
    EXPECT_EQ(
        ProbeHidCollections(system, "usb\\vid_12ab&pid_34cd\\5&2", &available, &count, &message),
        c.result)
        << c.name;
    EXPECT_EQ(available, c.available) << c.name;
    EXPECT_EQ(count, c.count) << c.name;
    EXPECT_EQ(message, c.message) << c.name;
  }
}

TEST_F(UsbDiagnosticsTest, OnlyTheFirstCollectionProblemIsKept) {
  // A second device's collection, one of ours that will not open, and one
  // eight nodes down that still belongs to the device.
  fake::FakeHidDeviceSpec refused;
  refused.path = "\\\\?\\hid#refused";
  refused.opens.clear();
  fake::FakeHidDeviceSpec deep;
  deep.path = "\\\\?\\hid#deep";
  deep.caps.number_link_collection_nodes = 3;
  fake::FakeHidDeviceSpec too_deep = deep;
  too_deep.path = "\\\\?\\hid#too_deep";
  fake::FakeHidDeviceApi hid({refused, deep, too_deep});
  uint32_t parent = device_;
  for (int i = 0; i < 8; ++i) parent = world_.AddStarted("ROOT\\N\\" + std::to_string(i), parent);
  // Counting the collection's own node, device_ is the eighth node up from the
  // seventh one added and the ninth from the last.
  world_.source.hid_interfaces = {{"\\\\?\\hid#refused", collection_},
                                  {"\\\\?\\hid#deep", parent - 1},
                                  {"\\\\?\\hid#too_deep", parent}};
  UsbDiagnosticsSystem system = System();
  system.hid = &hid;
  bool available = false;
  uint32_t count = 0;
  std::string message;
  EXPECT_TRUE(ProbeHidCollections(system, kDeviceId, &available, &count, &message));
  EXPECT_TRUE(available);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(message, "无法打开 HID 集合设备（错误码 5）");
}

// A hub whose connection-information answers are scripted.
class ScriptedHub : public UsbHub {
 public:
  struct Answer {
    bool ok;
    uint32_t returned;
    uint32_t error;
  };
  bool GetNodeInformation(std::vector<uint8_t>*, uint32_t*, uint32_t*) override { return false; }
  bool GetConnectionDriverKeyName(std::vector<uint8_t>*, uint32_t*, uint32_t*) override {
    return false;
  }
  bool GetDescriptorFromNodeConnection(std::vector<uint8_t>*, uint32_t*, uint32_t*) override {
    return false;
  }
  bool GetConnectionInformation(std::vector<uint8_t>* buffer, uint32_t* returned,
                                uint32_t* error) override {
    sizes.push_back(buffer->size());
    ports.push_back((*buffer)[0] | ((*buffer)[1] << 8));
    const Answer answer = answers.at(sizes.size() - 1);
    if (answer.ok) {
      (*buffer)[4] = 18;
      (*buffer)[23] = 3;
    }
    *returned = answer.returned;
    *error = answer.error;
    return answer.ok;
  }
  std::vector<Answer> answers;
  std::vector<size_t> sizes;
  std::vector<uint32_t> ports;
};

TEST(ReadHubConnectionInfoTest, RetriesOnceWithTheSizeTheHubAsksFor) {
  struct Case {
    const char* name;
    std::vector<ScriptedHub::Answer> answers;
    std::vector<size_t> sizes;
    bool ok;
    const char* message;
  } cases[] = {
      {"first answer", {{true, 35, 0}}, {35}, true, ""},
      {"bigger buffer", {{false, 69, 122}, {true, 69, 0}}, {35, 69}, true, ""},
      {"at least one pipe", {{false, 40, 122}, {true, 40, 0}}, {35, 52}, true, ""},
      {"no size", {{false, 0, 122}}, {35}, false, "读取 USB 集线器端口连接信息失败（错误码 122）"},
      {"retry fails",
       {{false, 69, 122}, {false, 0, 31}},
       {35, 69},
       false,
       "读取 USB 集线器端口连接信息失败（错误码 31）"},
      {"other error", {{false, 69, 5}}, {35}, false, "读取 USB 集线器端口连接信息失败（错误码 5）"},
  };
  for (const Case& c : cases) {
    ScriptedHub hub;
    hub.answers = c.answers;
    HubConnectionInfo info;
    std::string message;
    EXPECT_EQ(ReadHubConnectionInfo(hub, 7, &info, &message), c.ok) << c.name;
    EXPECT_EQ(hub.sizes, c.sizes) << c.name;
    EXPECT_EQ(hub.ports, std::vector<uint32_t>(c.sizes.size(), 7)) << c.name;
    EXPECT_EQ(message, c.message) << c.name;
    if (c.ok) {
      EXPECT_EQ(info.device_descriptor_length, 18);
      EXPECT_EQ(info.speed, 3);
    }
  }
}

TEST(ProbeConfigurationDescriptorTest, RefusedAndShortAnswers) {
  struct Case {
    const char* name;
    bool refuse;
    std::vector<uint8_t> configuration;
    bool available;
    const char* message;
  } cases[] = {
      {"answered", false, {9, 2, 34, 0, 1, 1, 0, 0xa0, 50}, true, ""},
      {"short answer", false, {}, false, ""},
      {"refused", true, {}, false, "读取 USB 配置描述符失败（错误码 31）"},
  };
  for (const Case& c : cases) {
    vek_test::FakeHubState state;
    state.ports[2].refuse_all = c.refuse;
    state.ports[2].Set(2, 0, 0, kRecipientDevice, c.configuration);
    vek_test::FakeUsbHub hub(&state);
    std::string message;
    EXPECT_EQ(ProbeConfigurationDescriptor(hub, 2, &message), c.available) << c.name;
    EXPECT_EQ(message, c.message) << c.name;
    ASSERT_EQ(state.requests.size(), 1u);
    EXPECT_EQ(state.requests[0].length, 9);
    EXPECT_EQ(state.requests[0].type, 2);
  }
}

}  // namespace
}  // namespace vek_native
