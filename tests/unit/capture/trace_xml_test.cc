#include "capture/trace_xml.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "capture/trace_text.h"

namespace vek_native {
namespace {

constexpr char kHidClass[] = "Microsoft-Windows-Input-HIDCLASS";
constexpr char kHub3[] = "Microsoft-Windows-USB-USBHUB3";
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
                                    int64_t start = 0, int64_t wall = 0) {
  std::vector<TraceEventRecord> events;
  bool truncated = true;
  ParseTraceEvents(xml, start, wall, include_hid, &events, &truncated);
  EXPECT_FALSE(truncated);
  return events;
}

// The fixture holds a stale keyboard descriptor replaced by a later event,
// another device, a length of 0 and a version-0 event without a path.
TEST(ParseHidDescriptorEventsTest, FixtureGivesTheLastDescriptorPerInterfaceInOrder) {
  const std::string xml = ReadFixture("hid_descriptor_capture.xml");
  std::vector<HidDescriptorCapture> captures;
  EXPECT_TRUE(ParseHidDescriptorEvents(xml, 0x046D, 0xC52B, -1, &captures));
  ASSERT_EQ(captures.size(), 2u);
  EXPECT_EQ(captures[0].instancePath, "USB\\VID_046D&PID_C52B&MI_00\\7&2F1A3C5B&0&0000");
  EXPECT_EQ(captures[0].interfaceNumber, 0);
  EXPECT_EQ(BytesToHex(captures[0].descriptor), kKeyboard);
  EXPECT_EQ(captures[0].declaredLength, 63);
  EXPECT_EQ(captures[1].interfaceNumber, 1);
  EXPECT_EQ(BytesToHex(captures[1].descriptor),
            "05010902A1010901A100050919012905150025019505750181029501750381010501093009311581257F"
            "75089502810609381581257F750895018106C0C0");
  EXPECT_EQ(captures[1].declaredLength, 62);  // "0" is replaced by the byte count
  EXPECT_EQ(captures[1].vendorId, 0x046Du);
  EXPECT_EQ(captures[1].productId, 0xC52Bu);
  EXPECT_TRUE(ParseHidDescriptorEvents(xml, 0x046D, 0xC52B, 1, &captures));
  ASSERT_EQ(captures.size(), 1u);
  EXPECT_EQ(captures[0].interfaceNumber, 1);
  EXPECT_TRUE(ParseHidDescriptorEvents(xml, 0x046D, 0xC52C, -1, &captures));
  EXPECT_TRUE(captures.empty());
}

// The reader's invariants (one record per interface, in order, of the wanted
// device, 1 to 4096 bytes) are the descriptor fuzzer's; these are its rules.
TEST(ParseHidDescriptorEventsTest, WhichEventsCount) {
  const std::string kMi0 = "USB\\VID_046D&amp;PID_C52B&amp;MI_00\\7&amp;1&#x26;\xFF";
  const std::string kNoMi = "  USB\\VID_046D&amp;PID_C52B\\5&amp;1 ";
  // The event, the interface wanted, the one captured (-2: none).
  const std::tuple<std::string, int32_t, int32_t> cases[] = {
      {HidEvent(kNoMi, "0501"), 0, -1},  // no &MI_ counts as interface 0
      {HidEvent(kNoMi, "0501"), 1, -2},
      {HidEvent(kMi0, "0x0501", "n/a"), -1, 0},  // the path's vendor stands in
      {HidEvent(kMi0, "0501", "0x1532"), -1, -2},
      {HidEvent(kMi0, "050"), -1, -2},
      {HidEvent(kMi0, std::string(8192, 'A')), -1, 0},
      {HidEvent(kMi0, std::string(8194, 'A')), -1, -2}};
  for (const auto& [event, wanted, expected] : cases) {
    std::vector<HidDescriptorCapture> captures(3);
    ParseHidDescriptorEvents(event, 0x046D, 0xC52B, wanted, &captures);
    ASSERT_EQ(captures.size(), expected == -2 ? 0u : 1u) << event;
    if (!captures.empty()) {
      EXPECT_EQ(captures[0].interfaceNumber, expected);
    }
  }
  // A declared length of at least 1 counts; the path is decoded and made valid UTF-8.
  std::vector<HidDescriptorCapture> captures;
  ParseHidDescriptorEvents(
      HidEvent(kMi0, "0501", "1133", "0x10") + HidEvent(kNoMi, "0501", "1133", "4294967295"),
      0x046D, 0xC52B, -1, &captures);
  ASSERT_EQ(captures.size(), 2u);
  EXPECT_EQ(captures[0].declaredLength, 2);
  EXPECT_EQ(captures[1].declaredLength, 16);
  EXPECT_EQ(captures[1].instancePath, "USB\\VID_046D&PID_C52B&MI_00\\7&1&\xEF\xBF\xBD");
}

TEST(ParseTraceEventsTest, DataFieldsAndThePayload) {
  TraceFieldMap fields;
  TraceValueLists all;
  // A later element of a name replaces it; a self-closing one is empty and
  // takes nothing from its neighbour.
  ExtractDataFields("<Data>first</Data>" + Data("A", " 1 &amp; 2 ") + "<DataItem>x</DataItem>" +
                        "<Data>second</Data>" + Data("A", "3") + "<Data Name=\"E\"/>" +
                        Data("F", "f") + "<Data\tName=\"T&lt;\">t</Data>",
                    &fields, &all);
  std::string pairs;
  for (const auto& [name, value] : fields) pairs += name + "=" + value + ";";
  EXPECT_EQ(pairs, "A=3;Data0=first;Data1=second;E=;F=f;T<=t;");
  EXPECT_EQ(all["A"], (std::vector<std::string>{"1 & 2", "3"}));
  // The report descriptor, a setup packet, the named candidates in their
  // order, else the longest payload-like value of 16 digits or more.
  const std::pair<TraceFieldMap, std::string> payloads[] = {
      {{{"reportdescriptor", "05 01"}, {"SetupPacket", "8006"}}, "0501"},
      {{{"ReportDescriptor", "1"}, {"Buffer", "0102"}, {"xSETUPy", "0x80 06"}}, "8006 setup"},
      {{{"Buffer", "0102"}, {"payload", "0304"}}, "0304"},
      {{{"fid_URB", "0x0011223344556677"}, {"fid_UsbData", "00112233445566778899"}},
       "00112233445566778899"},
      {{{"fid_Data2", "00112233445566"}, {"fid_UsbDevice", "0xFFFFC00D1F0C8D30"}}, ""}};
  for (const auto& [candidates, expected] : payloads) {
    const PayloadChoice choice = SelectPayloadHex(candidates);
    EXPECT_EQ(choice.hex + (choice.isSetup ? " setup" : ""), expected);
  }
  // Else the longest list of 4 to 4096 values of one or two hex digits each.
  TraceValueLists lists = {
      {"A", {"1", "2", "3"}}, {"B", {"1", "2", "0x123", "4"}}, {"C", {"1", "0x", "3", "4"}}};
  EXPECT_EQ(ReassembleByteList(lists, &fields), "");
  lists["Max"] = std::vector<std::string>(4096, "ee");
  lists["TooBig"] = std::vector<std::string>(4097, "FF");
  EXPECT_EQ(ReassembleByteList(lists, &fields), std::string(8192, 'E'));
  EXPECT_EQ(fields["MaxLength"], "4096");
}

// The fixture holds the usual level and messages; these are the rest.
TEST(ParseTraceEventsTest, LevelsIdsAndMessages) {
  std::string names;
  for (uint32_t level = 0; level <= 6; ++level) names += LevelName(level) + ",";
  EXPECT_EQ(names, "Level 0,Critical,Error,Warning,Information,Verbose,Level 6,");
  const auto events =
      Parse(Event("Vendor", "<EventID> 0x3C </EventID><Level>4294967295</Level>", "", "\xFF"));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].eventId, 60u);
  EXPECT_EQ(events[0].level + " " + events[0].message, "Level -1 Vendor：\xEF\xBF\xBD");
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
      {"not a time", instant, wall, 0, 0},
      {"2024-06-01T10:00:00Z", 1000000, 0, INT32_MAX, 1717236000000000}};  // clamped
  for (const auto& [time, start, start_wall, offset, timestamp] : cases) {
    int32_t offset_ms = -1;
    int64_t timestamp_us = -1;
    ComputeEventTimes(time, start, start_wall, &offset_ms, &timestamp_us);
    EXPECT_EQ(offset_ms, offset) << time;
    EXPECT_EQ(timestamp_us, timestamp) << time;
  }
}

// Providerless events are skipped, HID reports kept when asked, and the list
// is capped; the fuzzer holds every record to valid UTF-8 and hex pairs.
TEST(ParseTraceEventsTest, SkippedEventsAndTheCap) {
  const std::string one = Event(kHub3, "");
  std::string xml = Event("", "") + HidEvent("USB\\1", "05");
  EXPECT_EQ(Parse(xml, false).size(), 0u);
  for (size_t i = 0; i < kMaxTraceEventRecords; ++i) xml += one;
  std::vector<TraceEventRecord> events;
  bool truncated = false;
  ParseTraceEvents(xml, 0, 0, true, &events, &truncated);
  EXPECT_TRUE(truncated);
  EXPECT_EQ(events.size(), kMaxTraceEventRecords);
  EXPECT_EQ(events[0].provider, kHidClass);
}

// Field names and layout of the real providers' manifests (see the README).
TEST(ParseTraceEventsTest, EnumerationFixture) {
  const std::string xml = ReadFixture("usb_enumeration_capture.xml");
  const int64_t start = 1714557600000000;  // 10:00:00Z
  const int64_t wall = 1714586400000000;   // 18:00:00 local (+08:00)
  const auto events = Parse(xml, true, start, wall);
  ASSERT_EQ(events.size(), 7u);
  EXPECT_EQ(events[0].provider, kHub3);
  EXPECT_EQ(events[0].offsetMs, 250);
  EXPECT_EQ(events[0].timestampUs, start + 250000);
  EXPECT_EQ(events[0].message, "USB 3.x 集线器（USBHUB3）：Start of USB Device Enumeration");
  EXPECT_EQ(events[0].fields,
            (TraceFieldMap{{"fid_UsbDevice", "0xFFFFC00D1F0C8D30"}, {"fid_PortNumber", "3"}}));
  // New USB device information: the configuration descriptor one byte per element.
  EXPECT_EQ(events[1].dataHex,
            "09023B00020100A0320904000001030101000921110100012241000705810308000A0904010001030102"
            "00092111010001224A000705820308000A");
  EXPECT_EQ(events[1].fields.at("fid_ConfigurationDescriptorLength"), "59");
  EXPECT_EQ(events[1].fields.at("DescriptorType"), "Configuration");
  EXPECT_EQ(events[1].fields.at("fid_DeviceInterfacePath"),
            "\\??\\USB#VID_046D&PID_C52B#5&1a2b3c&0&3#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
  // A control transfer with a setup packet: GET_DESCRIPTOR(configuration).
  const auto& f = events[2].fields;
  EXPECT_EQ(events[2].dataHex, "800600020000FF00");
  EXPECT_EQ(
      f.at("bmRequestType") + f.at("bRequest") + f.at("wValue") + f.at("wIndex") + f.at("wLength"),
      "0x800x060x02000x00000x00FF");
  EXPECT_EQ(events[3].message, "USB xHCI 控制器（USBXHCI）：USB Device Create");
  EXPECT_EQ(events[4].message, "HID 类驱动发布报告描述符（63 字节）");
  EXPECT_EQ(events[4].dataHex, kKeyboard);
  EXPECT_EQ(events[5].message, "HID 类驱动（HIDCLASS）事件 #2");
  EXPECT_EQ(events[6].message, "USB 3.x 集线器（USBHUB3）：Completion of USB Device Enumeration");
  EXPECT_EQ(events[6].offsetMs, 1500);
  EXPECT_EQ(Parse(xml, false, start, wall).size(), 6u);
}

}  // namespace
}  // namespace vek_native
