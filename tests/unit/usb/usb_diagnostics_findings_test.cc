// The report descriptors of a device's HID interfaces, read through its hub
// port, in the diagnostics report: what is wrong in them, and why a device
// Windows would not start most likely failed.
#include <gtest/gtest.h>

#include "support/hid/fake_hid_device_api.h"
#include "unit/hid/hub_fake.h"
#include "unit/usb/usb_fakes.h"
#include "usb/usb_diagnostics.h"
#include "usb/usb_port.h"

namespace vek_native {
namespace {

using Bytes = std::vector<uint8_t>;
using Notes = std::vector<std::string>;

constexpr char kHubId[] = "USB\\ROOT_HUB30\\4&1";
constexpr char kDeviceId[] = "USB\\VID_12AB&PID_34CD\\5&2";

// A three-button mouse: an Application collection at offset 4 around a
// Physical one at offset 8; its input report is 3 bytes.
const Bytes kMouse = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19,
                      0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02,
                      0x95, 0x01, 0x75, 0x05, 0x81, 0x03, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15,
                      0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06, 0xC0, 0xC0};
const Bytes kMouseOpen1 = Bytes(kMouse.begin(), kMouse.end() - 1);
const Bytes kMouseOpen2 = Bytes(kMouse.begin(), kMouse.end() - 2);

struct HidInterface {
  uint8_t number;
  Bytes descriptor;
  uint8_t max_packet_size;
};

// Configuration 0 with one HID interface (its HID class descriptor and
// interrupt IN endpoint) per entry, and each descriptor where an interface
// request finds it.
void Plug(vek_test::FakeUsbDevice* port, const std::vector<HidInterface>& interfaces) {
  Bytes config = {9, 2, 0, 0, static_cast<uint8_t>(interfaces.size()), 1, 0, 0xa0, 50};
  for (const HidInterface& i : interfaces) {
    const auto length = static_cast<uint8_t>(i.descriptor.size());
    config.insert(config.end(), {9,
                                 4,
                                 i.number,
                                 0,
                                 1,
                                 3,
                                 0,
                                 0,
                                 0,
                                 9,
                                 0x21,
                                 0x11,
                                 0x01,
                                 0,
                                 1,
                                 0x22,
                                 length,
                                 0,
                                 7,
                                 5,
                                 static_cast<uint8_t>(0x81 + i.number),
                                 3,
                                 i.max_packet_size,
                                 0,
                                 10});
    port->Set(0x22, 0, i.number, kRecipientInterface, i.descriptor);
  }
  config[2] = static_cast<uint8_t>(config.size());
  port->Set(2, 0, 0, kRecipientDevice, config);
}

const char kUnclosedApplication[] =
    "Collection（Application）没有对应的 End Collection，描述符结束时它仍未关闭";
const char kUnclosedPhysical[] =
    "Collection（Physical）没有对应的 End Collection，描述符结束时它仍未关闭";
const char kBlamed43[] =
    "问题代码 43（驱动程序报告设备失败）很可能由 HID 报告描述符中的错误引起：HID "
    "类驱动无法解析有错误的报告描述符。";

// A device Windows failed to start has no HID collection: whatever the hub
// hands out is all there is to go on.
TEST(UsbDiagnosticsFindingsTest, ReportDescriptorsReadThroughTheHub) {
  using Finding = std::tuple<int64_t, std::string, int64_t, std::string, std::string>;
  const struct {
    const char* name;
    uint32_t problem;
    std::vector<HidInterface> interfaces;
    std::vector<Finding> findings;  // interface, severity, offset, code, message
    Notes added;
  } cases[] = {
      {"problem 43, unclosed collection",
       43,
       {{0, kMouseOpen1, 8}},
       {{0, "error", 4, "unclosed-collection", kUnclosedApplication}},
       {kBlamed43, std::string("接口 0 的 HID 报告描述符有 1 个错误：偏移 4：") +
                       kUnclosedApplication + "。"}},
      {"problem 43, valid descriptor", 43, {{0, kMouse, 8}}, {}, {}},
      {"warning only: the 3-byte report outgrows a 2-byte endpoint",
       43,
       {{0, kMouse, 2}},
       {{0, "warning", 24, "report-exceeds-packet",
         "输入报告在总线上长 3 字节，超过中断输入端点的最大包长 2 "
         "字节，一个报告要分成多个事务传输"}},
       {}},
      {"two interfaces, the second broken",
       0,
       {{0, kMouse, 8}, {1, kMouseOpen2, 8}},
       {{1, "error", 4, "unclosed-collection", kUnclosedApplication},
        {1, "error", 8, "unclosed-collection", kUnclosedPhysical}},
       {std::string("接口 1 的 HID 报告描述符有 2 个错误：偏移 4：") + kUnclosedApplication +
        "；偏移 8：" + kUnclosedPhysical + "。"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    vek_test::FakeMachine machine;
    const uint32_t device = machine.Add(kDeviceId, machine.Add(kHubId, 0), u"Port_#0003.Hub_#0002");
    machine.Node(device).status = std::make_tuple(0u, 0u, c.problem);
    vek_test::FakeUsbHubApi hubs;
    vek_test::FakeUsbDevice& port = hubs.AddHub(Utf8ToUtf16(HubInterfacePath(kHubId))).ports[3];
    port.device_descriptor = {18, 1, 0, 2, 0, 0, 0, 64, 0xab, 0x12, 0xcd, 0x34, 0, 1, 1, 2, 0, 1};
    Plug(&port, c.interfaces);
    fake::FakeHidDeviceApi hid;

    UsbDiagnosticsReport report;
    std::string message;
    ASSERT_TRUE(ReadUsbDiagnostics({machine.System(), &hubs, &hid}, kDeviceId, &report, &message));
    EXPECT_EQ(hubs.OpenHandles(), 0);

    Notes expected;
    if (c.problem == 43) {
      expected.push_back(
          "设备状态：有问题（问题代码 43：驱动程序报告设备失败）。驱动报告设备失败，常见于 HID "
          "报告描述符无法解析或固件异常，可尝试复位端口后重新插拔。");
    }
    expected.insert(expected.end(),
                    {"未找到属于该 USB 设备的 HID 集合接口。", "USB 设备描述符长度：18 字节。",
                     "HID 报告描述符不可读（没有可用的 HID 集合或 HID 类驱动未加载）。"});
    expected.insert(expected.end(), c.added.begin(), c.added.end());
    EXPECT_EQ(report.notes, expected);

    EncodableList findings;
    for (const auto& [interface, severity, offset, code, text] : c.findings) {
      findings.push_back(EncodableValue(
          EncodableMap{{EncodableValue("interfaceNumber"), EncodableValue(interface)},
                       {EncodableValue("severity"), EncodableValue(severity)},
                       {EncodableValue("offset"), EncodableValue(offset)},
                       {EncodableValue("code"), EncodableValue(code)},
                       {EncodableValue("message"), EncodableValue(text)}}));
    }
    EXPECT_EQ(std::get<EncodableMap>(UsbDiagnosticsMap(report))
                  .at(EncodableValue("hidDescriptorFindings")),
              EncodableValue(findings));
  }
}

}  // namespace
}  // namespace vek_native
