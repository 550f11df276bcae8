#include "usb/usb_diagnostics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "common/text.h"
#include "support/hid/fake_hid_device_api.h"
#include "unit/hid/hub_fake.h"
#include "unit/usb/usb_fakes.h"
#include "usb/usb_port.h"

namespace vek_native {
namespace {

using Notes = std::vector<std::string>;

constexpr char kHubId[] = "USB\\ROOT_HUB30\\4&1";
constexpr char kDeviceId[] = "USB\\VID_12ab&PID_34CD\\5&2";
constexpr char kCollectionId[] = "HID\\VID_12AB&PID_34CD&COL01\\6&3";
constexpr char kCollectionPath[] = "\\\\?\\hid#vid_12ab&pid_34cd&col01#6&3";

bool Has(const Notes& notes, const std::string& note) {
  return std::find(notes.begin(), notes.end(), note) != notes.end();
}

// A root hub with a HID device on port 3 whose one collection reports two
// link collections.
class UsbDiagnosticsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hub_ = world_.AddStarted(kHubId, 0);
    device_ = world_.AddStarted(kDeviceId, hub_);
    world_.tree.Node(device_).location = u"Port_#0003.Hub_#0002";
    collection_ = world_.AddStarted(kCollectionId, device_);
    for (uint32_t node : {hub_, device_, collection_}) Enumerate(node);
    vek_test::FakeUsbDevice& port = hubs_.AddHub(Utf8ToUtf16(HubInterfacePath(kHubId))).ports[3];
    port.device_descriptor = {18, 1, 0, 2, 0, 0, 0, 64, 0xab, 0x12, 0xcd, 0x34, 0, 1, 1, 2, 0, 1};
    port.speed = 2;
    port.Set(2, 0, 0, kRecipientDevice, {9, 2, 34, 0, 1, 1, 0, 0xa0, 50});
    hid_.Add(CollectionSpec());
    world_.source.hid_interfaces.push_back({kCollectionPath, collection_});
  }

  void Enumerate(uint32_t node) {
    world_.source.AddToSet(DeviceInfoClass::kNone, "USB", kDigcfAllClasses, node);
  }
  static fake::FakeHidDeviceSpec CollectionSpec() {
    fake::FakeHidDeviceSpec spec;
    spec.path = kCollectionPath;
    spec.caps.number_link_collection_nodes = 2;
    return spec;
  }
  UsbDiagnosticsSystem System() { return {world_.System(), &hubs_, &hid_}; }

  UsbDiagnosticsReport Read(const std::string& id) {
    UsbDiagnosticsReport report;
    std::string message;
    EXPECT_TRUE(ReadUsbDiagnostics(System(), id, &report, &message)) << message;
    EXPECT_EQ(hubs_.OpenHandles(), 0) << "a hub was left open";
    return report;
  }

  vek_test::FakeNodeWorld world_;
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
  EXPECT_EQ(r.hubPath, kDeviceId);
  EXPECT_EQ(r.speed, "高速（480 Mbps）");
  EXPECT_TRUE(r.configurationDescriptorAvailable && r.reportDescriptorAvailable);
  EXPECT_EQ(r.notes,
            (Notes{"USB 设备描述符长度：18 字节。", "HID 集合数：2（含嵌套 Link Collection）。"}));
  EXPECT_EQ(r.properties.at("集线器端口"), "3");
  EXPECT_EQ(r.properties.count("友好名称"), 0u);  // empty values are left out
  const EncodableMap map = std::get<EncodableMap>(UsbDiagnosticsMap(r));
  EXPECT_EQ(map.size(), 11u);
  EXPECT_EQ(map.at(EncodableValue("hidCollectionCount")), EncodableValue(int64_t{2}));
}

TEST_F(UsbDiagnosticsTest, AnUnknownIdHasNoNodeAndOneNote) {
  const UsbDiagnosticsReport r = Read("USB\\VID_FFFF&PID_FFFF\\NONE");
  EXPECT_FALSE(r.has_node);
  EXPECT_EQ(r.notes,
            (Notes{"未找到设备节点「USB\\VID_FFFF&PID_FFFF\\NONE」：设备可能已拔出，或实例 "
                   "ID 不属于 USB / HID 设备树。"}));
  EXPECT_TRUE(r.properties.empty());
  EXPECT_TRUE(std::get<EncodableMap>(UsbDiagnosticsMap(r)).at(EncodableValue("node")).IsNull());
  std::string message;
  EXPECT_FALSE(ReadUsbDiagnostics(System(), kDeviceId, nullptr, &message));
  EXPECT_EQ(message, "输出参数为空");
}

TEST_F(UsbDiagnosticsTest, StatusAndProblemComeFirst) {
  struct Case {
    vek_test::FakeProperties::State state;
    const char* status;
    const char* problem_property;  // "" when absent
    const char* first_note;        // "" when there is no status note
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
    const auto problem = r.properties.find("问题代码");
    EXPECT_EQ(problem == r.properties.end() ? "" : problem->second, c.problem_property);
    EXPECT_EQ(r.notes.front().rfind("设备状态：", 0) == 0 ? r.notes.front() : "", c.first_note);
  }
}

TEST_F(UsbDiagnosticsTest, APhantomIsLocatedButHasNoPort) {
  world_.tree.Node(device_).present = false;
  world_.properties.states.erase(device_);  // its status read fails: problem 45
  world_.source.hid_interfaces.clear();
  const UsbDiagnosticsReport r = Read(kDeviceId);
  EXPECT_EQ(r.node.problemText, "设备未连接");
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

TEST_F(UsbDiagnosticsTest, AHidCollectionNamesItsUsbDevice) {
  const UsbDiagnosticsReport r = Read(kCollectionId);
  EXPECT_EQ(r.node.busType, "HID");
  EXPECT_TRUE(r.node.isHidCollection);
  EXPECT_EQ(r.hubPath, kDeviceId);
  EXPECT_EQ(r.ancestors.size(), 2u);
  EXPECT_TRUE(
      Has(r.notes, std::string("该节点是 HID 集合；USB 父设备实例为「") + kDeviceId + "」。"));
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
    if (c.id != std::string(kDeviceId)) Enumerate(world_.AddStarted(c.id, hub_));
    const UsbDiagnosticsReport r = Read(c.id);
    EXPECT_EQ(r.node.vendorId, c.vendor) << c.id;
    EXPECT_EQ(r.node.productId, c.product) << c.id;
    const auto property = r.properties.find("VID/PID");
    EXPECT_EQ(property == r.properties.end() ? "" : property->second, c.property) << c.id;
  }
}

TEST_F(UsbDiagnosticsTest, HidCollectionProbeKeepsTheFirstProblem) {
  struct Case {
    const char* name;
    bool opens, has_preparsed;
    uint32_t list_error;
    bool result, main_answers;
    const char* message;
  } cases[] = {
      {"caps", true, true, 0, true, true, "无法打开 HID 集合设备（错误码 2）"},
      {"open refused", false, true, 0, true, false, "无法打开 HID 集合设备（错误码 5）"},
      {"no preparsed data", true, false, 0, true, false, "HID 预解析数据不可用（错误码 1）"},
      {"list fails", true, true, 8, false, false, "无法枚举 HID 设备接口（错误码 8）"},
  };
  for (const Case& c : cases) {
    fake::FakeHidDeviceSpec spec = CollectionSpec();
    if (!c.opens) spec.opens.clear();
    spec.has_preparsed_data = c.has_preparsed;
    // A second collection of the device, seven nodes further down, whose caps
    // always answer: its count adds up and an earlier problem is kept.
    fake::FakeHidDeviceSpec deep = CollectionSpec();
    deep.path = "\\\\?\\hid#deep";
    fake::FakeHidDeviceApi hid({spec, deep});
    vek_test::FakeNodeWorld world;
    uint32_t node = world.AddStarted(kDeviceId, 0);
    const uint32_t first = world.AddStarted(kCollectionId, node);
    for (int i = 0; i < 7; ++i) node = world.AddStarted("ROOT\\N\\" + std::to_string(i), node);
    const uint32_t too_deep = world.AddStarted("ROOT\\N\\7", node);
    // One more that vanished before it could be opened.
    world.source.hid_interfaces = {{kCollectionPath, first},
                                   {"\\\\?\\hid#gone", first},
                                   {"\\\\?\\hid#deep", node},
                                   {"\\\\?\\hid#deep", too_deep}};
    world.source.hid_list_error = c.list_error;
    bool available = !c.result;
    uint32_t count = 99;
    std::string message;
    EXPECT_EQ(ProbeHidCollections({world.System(), &hubs_, &hid}, "usb\\vid_12ab&pid_34cd\\5&2",
                                  &available, &count, &message),
              c.result)
        << c.name;
    EXPECT_EQ(available, c.result) << c.name;
    EXPECT_EQ(count, c.result ? (c.main_answers ? 4u : 2u) : 0u) << c.name;
    EXPECT_EQ(message, c.message) << c.name;
  }
}

// A hub whose connection-information answers are scripted.
class ScriptedHub : public vek_test::FakeUsbHub {
 public:
  struct Answer {
    bool ok;
    uint32_t returned, error;
  };
  ScriptedHub(vek_test::FakeHubState* state, std::vector<Answer> answers)
      : FakeUsbHub(state), answers_(std::move(answers)) {}
  bool GetConnectionInformation(std::vector<uint8_t>* buffer, uint32_t* returned,
                                uint32_t* error) override {
    requests.emplace_back(buffer->size(), (*buffer)[0]);
    const Answer answer = answers_.at(requests.size() - 1);
    (*buffer)[4] = 18;  // DeviceDescriptor.bLength
    (*buffer)[23] = 3;  // Speed
    *returned = answer.returned;
    *error = answer.error;
    return answer.ok;
  }
  std::vector<std::pair<size_t, uint8_t>> requests;  // buffer size, port

 private:
  std::vector<Answer> answers_;
};

TEST(ReadHubConnectionInfoTest, RetriesOnceWithTheSizeTheHubAsksFor) {
  struct Case {
    std::vector<ScriptedHub::Answer> answers;
    std::vector<size_t> sizes;
    const char* message;  // "" on success
  } cases[] = {
      {{{true, 35, 0}}, {35}, ""},
      {{{false, 69, 122}, {true, 69, 0}}, {35, 69}, ""},
      {{{false, 40, 122}, {true, 40, 0}}, {35, 52}, ""},  // room for one pipe at least
      {{{false, 0, 122}}, {35}, "读取 USB 集线器端口连接信息失败（错误码 122）"},
      {{{false, 69, 122}, {false, 0, 31}},
       {35, 69},
       "读取 USB 集线器端口连接信息失败（错误码 31）"},
      {{{false, 69, 5}}, {35}, "读取 USB 集线器端口连接信息失败（错误码 5）"},
  };
  for (const Case& c : cases) {
    vek_test::FakeHubState state;
    ScriptedHub hub(&state, c.answers);
    HubConnectionInfo info;
    std::string message;
    EXPECT_EQ(ReadHubConnectionInfo(hub, 7, &info, &message), *c.message == '\0') << c.message;
    EXPECT_EQ(message, c.message);
    for (size_t i = 0; i < hub.requests.size(); ++i) {
      EXPECT_EQ(hub.requests[i], std::make_pair(c.sizes.at(i), uint8_t{7})) << i;
    }
    EXPECT_EQ(hub.requests.size(), c.sizes.size());
    if (message.empty()) {
      EXPECT_EQ(info.speed, 3);
    }
  }
}

TEST(ProbeConfigurationDescriptorTest, RefusedAndShortAnswers) {
  struct Case {
    bool refuse;
    std::vector<uint8_t> configuration;
    bool available;
    const char* message;
  } cases[] = {
      {false, {9, 2, 34, 0, 1, 1, 0, 0xa0, 50}, true, ""},
      {false, {}, false, ""},  // an answer without data is no failure of the hub
      {true, {}, false, "读取 USB 配置描述符失败（错误码 31）"},
  };
  for (const Case& c : cases) {
    vek_test::FakeHubState state;
    state.ports[2].refuse_all = c.refuse;
    state.ports[2].Set(2, 0, 0, kRecipientDevice, c.configuration);
    vek_test::FakeUsbHub hub(&state);
    std::string message;
    EXPECT_EQ(ProbeConfigurationDescriptor(hub, 2, &message), c.available);
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(state.requests.at(0).length, 9);
  }
}

}  // namespace
}  // namespace vek_native
