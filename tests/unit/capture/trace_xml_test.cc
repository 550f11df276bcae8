#include "capture/trace_xml.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "capture/trace_text.h"

namespace vek_native {
namespace {

constexpr char kHidClass[] = "Microsoft-Windows-Input-HIDCLASS";
// The receiver's keyboard report descriptor, as the fixtures carry it.
constexpr char kKeyboard[] =
    "05010906A101050719E029E71500250175019508810295017508810395057501050819012905910295017503910395"
    "067508150025650507190029658100C0";

// One event in the converter's layout; `system` follows the provider.
std::string Event(const std::string& provider, const std::string& system,
                  const std::string& data = "", const std::string& message = "") {
  return "<Event xmlns=\"http://schemas.microsoft.com/win/2004/08/events/event\"><System>"
         "<Provider Name=\"" +
         provider + "\" />" + system + "</System>\r\n<EventData>" + data +
         "</EventData><RenderingInfo Culture=\"en-US\"><Message>" + message +
         "</Message></RenderingInfo></Event>\r\n";
}

std::string Data(const std::string& name, const std::string& value) {
  return "<Data Name=\"" + name + "\">" + value + "</Data>";
}

std::string HidEvent(const std::string& path, const std::string& descriptor,
                     const std::string& vendor = "1133", const std::string& length = "") {
  return Event(kHidClass, "",
               Data("VendorID", vendor) + Data("ProductID", "50475") +
                   Data("DeviceInstancePath", path) + Data("ReportDescriptorLength", length) +
                   Data("ReportDescriptor", descriptor));
}

std::string ReadFixture(const char* name) {
  std::ifstream in(std::string(VEK_TEST_DATA) + "/capture/" + name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<TraceEventRecord> Parse(const std::string& xml, bool include_hid = true,
                                    int64_t start = 0, int64_t wall = 0, bool cut = false) {
  std::vector<TraceEventRecord> events;
  bool truncated = !cut;
  ParseTraceEvents(xml, start, wall, include_hid, &events, &truncated);
  EXPECT_EQ(truncated, cut);
  return events;
}

// The fixture holds a stale keyboard descriptor replaced by a later event,
// another device, a length of 0 and a version-0 event without a path.
TEST(ParseHidDescriptorEventsTest, FixtureGivesTheLastDescriptorPerInterfaceInOrder) {
  const std::string xml = ReadFixture("hid_descriptor_capture.xml");
  std::vector<HidDescriptorCapture> captures;
  EXPECT_TRUE(ParseHidDescriptorEvents(xml, 0x046D, 0xC52B, -1, &captures));
  ASSERT_EQ(captures.size(), 2u);
  EXPECT_EQ(BytesToHex(captures[0].descriptor), kKeyboard);
  EXPECT_EQ(captures[1].declared_length, 62);  // "0" is replaced by the byte count
}

// The reader's invariants (one record per interface, in order, of the wanted
// device, 1 to 4096 bytes) are the descriptor fuzzer's; these are its rules.
TEST(ParseHidDescriptorEventsTest, WhichEventsCount) {
  const std::string kMi0 = "USB\\VID_046D&amp;PID_C52B&amp;MI_00\\7&amp;1&#x26;\xFF";
  const std::string kNoMi = "  USB\\VID_046D&amp;PID_C52B\\5&amp;1 ";
  const std::string kMi1 = HidEvent("USB\\VID_046D&amp;PID_C52B&amp;MI_01\\1", "0501");
  // The events, the interface wanted, the one captured (-2: none). An event
  // passed over does not end the reading.
  const std::tuple<std::string, int32_t, int32_t> cases[] = {
      {HidEvent(kNoMi, "0501"), 0, -1},  // no &MI_ counts as interface 0
      {HidEvent(kNoMi, "0501") + kMi1, 1, 1},
      {HidEvent(kMi0, "0x0501", "n/a"), -1, 0},  // the path's vendor stands in
      {HidEvent(kMi0, "0501", "0x1532") + kMi1, -1, 1},
      {HidEvent(kMi0, "050") + kMi1, -1, 1},
      {HidEvent(kMi0, std::string(8192, 'A')), -1, 0},  // 4096 bytes at most
      {HidEvent("HID\\VID_046D&amp;PID_C52B\\1", "0501") + kMi1, -1, 1},
      {HidEvent(kMi0, std::string(8194, 'A')), -1, -2}};
  for (const auto& [event, wanted, expected] : cases) {
    std::vector<HidDescriptorCapture> captures(3);
    ParseHidDescriptorEvents(event, 0x046D, 0xC52B, wanted, &captures);
    ASSERT_EQ(captures.size(), expected == -2 ? 0u : 1u) << event;
    if (!captures.empty()) EXPECT_EQ(captures[0].interface_number, expected);
  }
  // A declared length of at least 1 counts; the path is decoded and made valid UTF-8.
  std::vector<HidDescriptorCapture> captures;
  ParseHidDescriptorEvents(
      HidEvent(kMi0, "0501", "1133", "0x10") + HidEvent(kNoMi, "0501", "1133", "4294967295"),
      0x046D, 0xC52B, -1, &captures);
  ASSERT_EQ(captures.size(), 2u);
  EXPECT_EQ(captures[0].declared_length, 2);
  EXPECT_EQ(captures[1].declared_length, 16);
  EXPECT_EQ(captures[1].instance_path, "USB\\VID_046D&PID_C52B&MI_00\\7&1&\xEF\xBF\xBD");
}

TEST(ParseTraceEventsTest, DataFieldsAndThePayload) {
  TraceFieldMap fields;
  TraceValueLists all;
  // A later element of a name replaces it; a self-closing one is empty and
  // takes nothing from its neighbour.
  ExtractDataFields("<Data>first</Data>" + Data("A", " 1 &amp; 2 ") + "<DataItem>x</DataItem>" +
                        "<Data>second</Data>" + Data("A", "3") + "<Data Name=\"E\"/>" +
                        Data("F", "f\xFE") + "<Data\tName=\"T&lt;\xFF\">t</Data>",
                    &fields, &all);
  std::string pairs;
  for (const auto& [name, value] : fields) pairs += name + "=" + value + ";";
  EXPECT_EQ(pairs, "A=3;Data0=first;Data1=second;E=;F=f\xEF\xBF\xBD;T<\xEF\xBF\xBD=t;");
  // A setup packet's words are little-endian.
  TraceFieldMap setup;
  DecodeSetupPacket("A1 01 00 22 34 F2 C8 1B", &setup);
  EXPECT_EQ(setup["bRequest"] + setup["wValue"] + setup["wIndex"] + setup["wLength"],
            "0x010x22000xF2340x1BC8");
  // The report descriptor, a setup packet, the named candidates in their
  // order, else the longest payload-like value of 16 digits or more.
  const std::pair<TraceFieldMap, std::string> payloads[] = {
      {{{"reportdescriptor", "05 01"}, {"SetupPacket", "8006"}}, "0501"},
      {{{"ReportDescriptor", "1"}, {"Buffer", "0102"}, {"xSETUPy", "0x80 06"}}, "8006 setup"},
      {{{"fid_URB", "0x0011223344556677"}, {"fid_UsbData", "00112233445566778899"}},
       "00112233445566778899"},
  };
  for (const auto& [candidates, expected] : payloads) {
    const PayloadChoice choice = SelectPayloadHex(candidates);
    EXPECT_EQ(choice.hex + (choice.is_setup ? " setup" : ""), expected);
  }
  // A byte list has one or two digits an element; one with more or none
  // spoils its list.
  EXPECT_EQ(ReassembleByteList({{"A", {"0x1", "2", "0xab", "CD"}},
                                {"B", {"1", "2", "3", "4", "5", "123"}},
                                {"C", {"1", "2", "3", "4", "5", "-"}}},
                               &fields),
            "0102ABCD");
}

// The fixture holds the usual level and messages; these are the rest.
TEST(ParseTraceEventsTest, LevelsIdsAndMessages) {
  const auto events =
      Parse(Event("Vendor", "<EventID> 0x3C </EventID><Level>4294967295</Level>", "", "\xFF"));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].event_id, 60u);
  EXPECT_EQ(events[0].level + " " + events[0].message, "Level -1 Vendor：\xEF\xBF\xBD");
  EXPECT_EQ(LevelName(1) + LevelName(2) + LevelName(3) + LevelName(5),
            "CriticalErrorWarningVerbose");
  // Past the limit the rest is dropped and the cut reported.
  std::string many;
  for (size_t i = 0; i <= kMaxTraceEventRecords; ++i) many += Event("V", "");
  EXPECT_EQ(Parse(many, true, 0, 0, true).size(), kMaxTraceEventRecords);
}

TEST(ParseTraceEventsTest, TimeRules) {
  const int64_t instant = 1714557600500000;  // 2024-05-01T10:00:00.5Z
  const int64_t wall = 1714586400000000;     // 2024-05-01T18:00:00 local, taken as UTC
  // The time, the capture's start and local start; the offset and time stamp.
  const std::tuple<const char*, int64_t, int64_t, int32_t, int64_t> cases[] = {
      {"2024-05-01T10:00:00.5Z", instant - 1500000, wall, 1500, instant},
      {"2024-05-01T10:00:00.9Z", instant + 1000000, 0, 0, instant + 400000},  // before the start
      {"2024-05-01T18:00:00.250+08:00", 0, wall, 250, 0},
      {"2024-05-01T18:00:01+08:00", INT64_MAX, wall, 1000, 0},  // would overflow: unknown
  };
  for (const auto& [time, start, start_wall, offset, timestamp] : cases) {
    int32_t offset_ms = -1;
    int64_t timestamp_us = -1;
    ComputeEventTimes(time, start, start_wall, &offset_ms, &timestamp_us);
    EXPECT_EQ(offset_ms, offset) << time;
    EXPECT_EQ(timestamp_us, timestamp) << time;
  }
}

// Field names and layout of the real providers' manifests (see the README).
TEST(ParseTraceEventsTest, EnumerationFixture) {
  const std::string xml = ReadFixture("usb_enumeration_capture.xml");
  const int64_t start = 1714557600000000;  // 10:00:00Z
  const int64_t wall = 1714586400000000;   // 18:00:00 local (+08:00)
  const auto events = Parse(xml, true, start, wall);
  ASSERT_EQ(events.size(), 7u);
  EXPECT_EQ(events[0].offset_ms, 250);
  EXPECT_EQ(events[0].timestamp_us, start + 250000);
  EXPECT_EQ(events[0].message, "USB 3.x 集线器（USBHUB3）：Start of USB Device Enumeration");
  // New USB device information: the configuration descriptor one byte per element.
  EXPECT_EQ(events[1].data_hex,
            "09023B00020100A0320904000001030101000921110100012241000705810308000A0904010001030102"
            "00092111010001224A000705820308000A");
  EXPECT_EQ(events[1].fields.at("fid_ConfigurationDescriptorLength"), "59");
  // A control transfer with a setup packet: GET_DESCRIPTOR(configuration).
  EXPECT_EQ(events[2].data_hex, "800600020000FF00");
  EXPECT_EQ(events[2].fields.at("wValue"), "0x0200");
  EXPECT_EQ(events[4].message, "HID 类驱动发布报告描述符（63 字节）");
  EXPECT_EQ(events[4].data_hex, kKeyboard);
  EXPECT_EQ(events[5].message, "HID 类驱动（HIDCLASS）事件 #2");
  EXPECT_EQ(events[6].offset_ms, 1500);
  EXPECT_EQ(Parse(xml, false, start, wall).size(), 6u);
}

}  // namespace
}  // namespace vek_native
