// The report descriptors of a device's HID interfaces, read through its hub
// port, in the diagnostics report: what is wrong in them, and why a device
// Windows would not start most likely failed.
#include <gtest/gtest.h>

#include "support/hex.h"
#include "support/hid/fake_hid_device_api.h"
#include "unit/hid/hub_fake.h"
#include "unit/usb/usb_fakes.h"
#include "usb/usb_diagnostics.h"
#include "usb/usb_port.h"

namespace vek_native {
namespace {

using vek_test::kRootHubId;
// A three-button mouse: an Application collection at offset 4 around a
// Physical one at 8, each closed by one of the last two bytes; its input
// report, from offset 24, is 3 bytes long.
const std::string kMouse =
    "05010902a1010901a100050919012903150025019503750181029501750581030501093009311581257f75089502"
    "8106c0c0";
const std::string kUnclosed = "）没有对应的 End Collection，描述符结束时它仍未关闭";
const std::string kApplication = "Collection（Application" + kUnclosed;
const std::string kLikelyCause =
    "很可能由 HID 报告描述符中的错误引起：HID 类驱动无法解析有错误的报告描述符。";
const std::string kOneError = "接口 0 的 HID 报告描述符有 1 个错误：偏移 4：" + kApplication + "。";

std::string Hex(size_t byte) { return vek_test::ToHex({static_cast<uint8_t>(byte)}); }

// A device Windows failed to start has no HID collection: what the hub hands
// out is all there is to go on. The notes the report had before must stay as
// they are, which reading it with the report descriptors withheld shows.
TEST(UsbDiagnosticsFindingsTest, ReportDescriptorsReadThroughTheHub) {
  const struct {
    uint32_t problem;
    std::vector<std::pair<std::string, int>> interfaces;  // descriptor, max packet size
    std::vector<std::string> findings;                    // interface, severity, offset, code
    std::vector<std::string> added_notes;
  } cases[] = {
      {43,
       {{kMouse.substr(0, 98), 8}},
       {"0 error 4 unclosed-collection"},
       {"问题代码 43（驱动程序报告设备失败）" + kLikelyCause, kOneError}},
      {10,
       {{kMouse.substr(0, 98), 8}},
       {"0 error 4 unclosed-collection"},
       {"问题代码 10（无法启动）" + kLikelyCause, kOneError}},
      {43, {{kMouse, 8}}, {}, {}},
      {43, {{kMouse, 2}}, {"0 warning 24 report-exceeds-packet"}, {}},
      {0,
       {{kMouse, 8}, {kMouse.substr(0, 96), 8}},
       {"1 error 4 unclosed-collection", "1 error 8 unclosed-collection"},
       {"接口 1 的 HID 报告描述符有 2 个错误：偏移 4：" + kApplication +
        "；偏移 8：Collection（Physical" + kUnclosed + "。"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.interfaces.back().first);
    vek_test::FakeMachine machine;
    const uint32_t device = machine.Add("USB\\VID_12AB&PID_34CD\\5&2", machine.Add(kRootHubId, 0),
                                        u"Port_#0003.Hub_#0002");
    machine.Node(device).status = std::make_tuple(0u, 0u, c.problem);
    vek_test::FakeUsbHubApi hubs;
    vek_test::FakeUsbDevice& port = hubs.AddHub(Utf8ToUtf16(HubInterfacePath(kRootHubId))).ports[3];
    // Per interface: its descriptor, its HID descriptor and its interrupt IN endpoint.
    std::string config = "09020000010100a032";
    for (size_t n = 0; n < c.interfaces.size(); ++n) {
      const std::vector<uint8_t> d = vek_test::FromHex(c.interfaces[n].first);
      config += "0904" + Hex(n) + "00010300000009211101000122" + Hex(d.size()) + "000705" +
                Hex(0x81 + n) + "03" + Hex(c.interfaces[n].second) + "000a";
      port.Set(0x22, 0, static_cast<uint16_t>(n), kRecipientInterface, d);
    }
    // A vendor interface that answers like a HID one: it is no HID interface.
    config += "0904090001ff000000";
    port.Set(0x22, 0, 9, kRecipientInterface, vek_test::FromHex(kMouse.substr(0, 96)));
    config.replace(4, 2, Hex(config.size() / 2));
    port.Set(2, 0, 0, kRecipientDevice, vek_test::FromHex(config));
    fake::FakeHidDeviceApi hid;
    UsbDiagnosticsReport report, withheld;
    std::string message;
    ReadUsbDiagnostics({machine.System(), &hubs, &hid}, machine.Node(device).id, &report, &message);

    const EncodableValue map = UsbDiagnosticsMap(report);
    std::vector<std::string> findings;
    for (const EncodableValue& item : std::get<EncodableList>(
             std::get<EncodableMap>(map).at(EncodableValue("hidDescriptorFindings")))) {
      std::string line;
      for (const char* key : {"interfaceNumber", "severity", "offset", "code"}) {
        const EncodableValue& v = std::get<EncodableMap>(item).at(EncodableValue(key));
        const int64_t* number = std::get_if<int64_t>(&v);
        line += (line.empty() ? "" : " ") +
                (number ? std::to_string(*number) : std::get<std::string>(v));
      }
      findings.push_back(line);
    }
    EXPECT_EQ(findings, c.findings);

    for (size_t n = 0; n < c.interfaces.size(); ++n)
      port.descriptors.erase({0x22, 0, static_cast<uint16_t>(n), kRecipientInterface});
    ReadUsbDiagnostics({machine.System(), &hubs, &hid}, machine.Node(device).id, &withheld,
                       &message);
    withheld.notes.insert(withheld.notes.end(), c.added_notes.begin(), c.added_notes.end());
    EXPECT_EQ(report.notes, withheld.notes);
  }
}

}  // namespace
}  // namespace vek_native
