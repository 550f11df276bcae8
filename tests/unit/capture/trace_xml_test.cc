#include "capture/trace_xml.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "capture/trace_text.h"
#include "common/text.h"

namespace vek_native {
namespace {

constexpr char kHidClass[] = "Microsoft-Windows-Input-HIDCLASS";
constexpr char kHub3[] = "Microsoft-Windows-USB-USBHUB3";

// One event in the converter's layout.
struct Ev {
  std::string provider = kHub3;
  std::string event_id = "60";
  std::string level = "4";
  std::string time = "2024-05-01T10:00:00.5Z";
  std::vector<std::pair<std::string, std::string>> data;  // name "" writes <Data>
  std::string message;

  std::string Xml() const {
    std::string x = "<Event xmlns=\"http://schemas.microsoft.com/win/2004/08/events/event\">\r\n";
    x += "<System><Provider Name=\"" + provider + "\" Guid=\"{0}\" />";
    x += "<EventID>" + event_id + "</EventID><Version>0</Version>";
    if (!level.empty()) x += "<Level>" + level + "</Level>";
    x += "<Task>9</Task><Opcode>1</Opcode>";
    x += "<TimeCreated SystemTime=\"" + time + "\" /><Channel>Analytic</Channel></System>\r\n";
    x += "<EventData>";
    for (const auto& [name, value] : data) {
      x += name.empty() ? "<Data>" : "<Data Name=\"" + name + "\">";
      x += value + "</Data>\r\n";
    }
    x += "</EventData><RenderingInfo Culture=\"en-US\"><Message>" + message +
         "</Message></RenderingInfo></Event>\r\n";
    return x;
  }
};

std::string Events(const std::vector<Ev>& events) {
  std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Events>\r\n";
  for (const Ev& e : events) x += e.Xml();
  return x + "</Events>\r\n";
}

Ev HidEvent(const std::string& path, const std::string& descriptor, std::string length = "") {
  Ev e;
  e.provider = kHidClass;
  e.event_id = "3";
  e.data = {{"VendorID", "1133"},
            {"ProductID", "50475"},
            {"DeviceInstancePath", path},
            {"ReportDescriptorLength", length},
            {"ReportDescriptor", descriptor}};
  return e;
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

TEST(ForEachEventBlockTest, NeedsTheBlankAndTheEndMarker) {
  std::vector<std::string> blocks;
  ForEachEventBlock("<Events><Event a>1</Event><EventData/><Event b>2</Event><Event c>3",
                    [&](std::string_view b) {
                      blocks.emplace_back(b);
                      return true;
                    });
  EXPECT_EQ(blocks, (std::vector<std::string>{"<Event a>1</Event>", "<Event b>2</Event>"}));
}

TEST(ParseHidDescriptorEventsTest, FixtureKeepsTheLastEventPerInterfaceInInterfaceOrder) {
  const std::string xml = ReadFixture("hid_descriptor_capture.xml");
  ASSERT_FALSE(xml.empty());
  std::vector<HidDescriptorCapture> captures;
  EXPECT_TRUE(ParseHidDescriptorEvents(xml, 0x046D, 0xC52B, -1, &captures));
  ASSERT_EQ(captures.size(), 2u);
  EXPECT_EQ(captures[0].instancePath, "USB\\VID_046D&PID_C52B&MI_00\\7&2F1A3C5B&0&0000");
  EXPECT_EQ(captures[0].interfaceNumber, 0);
  EXPECT_EQ(captures[0].descriptor.size(), 63u);  // the later, complete keyboard descriptor
  EXPECT_EQ(captures[0].declaredLength, 63);
  EXPECT_EQ(BytesToHex(captures[0].descriptor).substr(0, 8), "05010906");
  EXPECT_EQ(captures[1].interfaceNumber, 1);
  EXPECT_EQ(captures[1].declaredLength, static_cast<int32_t>(captures[1].descriptor.size()));
  EXPECT_EQ(captures[1].vendorId, 0x046Du);
  EXPECT_EQ(captures[1].productId, 0xC52Bu);

  EXPECT_TRUE(ParseHidDescriptorEvents(xml, 0x046D, 0xC52B, 1, &captures));
  ASSERT_EQ(captures.size(), 1u);
  EXPECT_EQ(captures[0].interfaceNumber, 1);
  EXPECT_TRUE(ParseHidDescriptorEvents(xml, 0x046D, 0xC52C, -1, &captures));
  EXPECT_TRUE(captures.empty());
}

TEST(ParseHidDescriptorEventsTest, FilterTable) {
  const std::string kPath0 = "USB\\VID_046D&amp;PID_C52B&amp;MI_00\\7&amp;1";
  const std::string kNoMi = "  USB\\VID_046D&amp;PID_C52B\\5&amp;1 ";
  struct Case {
    const char* what;
    Ev event;
    int32_t wanted_interface;
    int expected_interface;  // -2: nothing captured
  };
  Ev ids_from_path = HidEvent(kNoMi, "0x0501");
  ids_from_path.data[0].second = "n/a";
  ids_from_path.data[1].second = "";
  Ev other_vendor_in_event = HidEvent(kPath0, "0501");
  other_vendor_in_event.data[0].second = "0x1532";
  const Case cases[] = {
      {"no &MI_ matches interface 0, stored as -1", HidEvent(kNoMi, "0501"), 0, -1},
      {"no &MI_ does not match interface 1", HidEvent(kNoMi, "0501"), 1, -2},
      {"no &MI_, any interface", HidEvent(kNoMi, "0501"), -1, -1},
      {"interface mismatch", HidEvent(kPath0, "0501"), 2, -2},
      {"event IDs unparsable: path IDs used", ids_from_path, -1, -1},
      {"event vendor wins over the path", other_vendor_in_event, -1, -2},
      {"not a USB path", HidEvent("HID\\VID_046D&amp;PID_C52B", "0501"), -1, -2},
      {"empty path", HidEvent("", "0501"), -1, -2},
      {"path without IDs", HidEvent("USB\\ROOT_HUB30\\4&amp;1", "0501"), -1, -2},
      {"odd hex", HidEvent(kPath0, "050"), -1, -2},
      {"empty descriptor", HidEvent(kPath0, "  "), -1, -2},
      {"4096 bytes accepted", HidEvent(kPath0, std::string(8192, 'A')), -1, 0},
      {"4097 bytes skipped", HidEvent(kPath0, std::string(8194, 'A')), -1, -2},
  };
  for (const Case& c : cases) {
    std::vector<HidDescriptorCapture> captures(3);
    ParseHidDescriptorEvents(Events({c.event}), 0x046D, 0xC52B, c.wanted_interface, &captures);
    if (c.expected_interface == -2) {
      EXPECT_TRUE(captures.empty()) << c.what;
    } else {
      ASSERT_EQ(captures.size(), 1u) << c.what;
      EXPECT_EQ(captures[0].interfaceNumber, c.expected_interface) << c.what;
    }
  }
}

TEST(ParseHidDescriptorEventsTest, DeclaredLengthAndEntitiesInThePath) {
  struct Case {
    std::string length;
    int32_t declared;
  };
  const Case cases[] = {{"63", 63},  {"0", 2},     {"", 2},
                        {"junk", 2}, {"0x10", 16}, {"4294967295", 2}};  // -1 as signed: below 1
  for (const Case& c : cases) {
    std::vector<HidDescriptorCapture> captures;
    ParseHidDescriptorEvents(
        Events({HidEvent("USB\\VID_046D&amp;PID_C52B&amp;MI_00\\a&#x26;b", "0501", c.length)}),
        0x046D, 0xC52B, -1, &captures);
    ASSERT_EQ(captures.size(), 1u) << c.length;
    EXPECT_EQ(captures[0].declaredLength, c.declared) << c.length;
    EXPECT_EQ(captures[0].instancePath, "USB\\VID_046D&PID_C52B&MI_00\\a&b");
  }
}

TEST(ParseHidDescriptorEventsTest, InvalidUtf8InThePathIsRepaired) {
  std::vector<HidDescriptorCapture> captures;
  ParseHidDescriptorEvents(Events({HidEvent("USB\\VID_046D&amp;PID_C52B\\\xFF\xC3", "0501")}),
                           0x046D, 0xC52B, -1, &captures);
  ASSERT_EQ(captures.size(), 1u);
  EXPECT_TRUE(IsValidUtf8(captures[0].instancePath));
  EXPECT_EQ(captures[0].instancePath, "USB\\VID_046D&PID_C52B\\\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(ExtractDataFieldsTest, NamesValuesAndRepeats) {
  const std::string block =
      "<Event x><EventData><Data>first</Data><Data Name=\"A\"> 1 &amp; 2 </Data>"
      "<DataItem>skipped</DataItem><Data>second</Data><Data Name=\"A\">3</Data>"
      "<Data Name=\"E\"/><Data "
      "Name=\"F\">f</Data><Data\tName=\"T&lt;\">t</Data></EventData></Event>";
  TraceFieldMap fields;
  TraceValueLists all;
  ExtractDataFields(block, &fields, &all);
  EXPECT_EQ(fields["Data0"], "first");
  EXPECT_EQ(fields["Data1"], "second");
  EXPECT_EQ(fields["A"], "3");  // a later element of the same name replaces it
  EXPECT_EQ(all["A"], (std::vector<std::string>{"1 & 2", "3"}));
  EXPECT_EQ(fields["E"], "");  // self-closing: empty, and F keeps its own value
  EXPECT_EQ(fields["F"], "f");
  EXPECT_EQ(fields["T<"], "t");
  EXPECT_EQ(fields.count("DataItem"), 0u);
  EXPECT_EQ(fields.size(), 6u);
}

TEST(ElementHelpersTest, AttributeAndText) {
  const std::string block =
      "<Event x><Providers/><Provider Name=\"P&amp;Q\" Guid=\"{1}\"/><EventID>7</EventID>"
      "<Level x=\"1\">9</Level></Event>";
  // The first "<Provider" is "<Providers": later occurrences are not tried.
  EXPECT_EQ(GetElementAttribute(block, "Provider", "Name"), "");
  EXPECT_EQ(GetElementAttribute(block.substr(21), "Provider", "Name"), "P&Q");
  EXPECT_EQ(GetElementAttribute(block.substr(21), "Provider", "Guid"), "{1}");
  EXPECT_EQ(GetElementText(block, "EventID"), "7");
  EXPECT_EQ(GetElementText(block, "Level"), "");  // an element with attributes is not found
  EXPECT_EQ(GetElementAttribute("<a><TimeCreated SystemTime=\"t\"", "TimeCreated", "SystemTime"),
            "");  // no closing '>'
}

TEST(SelectPayloadHexTest, Table) {
  struct Case {
    const char* what;
    TraceFieldMap fields;
    std::string hex;
    bool setup;
  };
  // clang-format off
  const Case cases[] = {
      {"report descriptor first",
       {{"reportdescriptor", "05 01"}, {"SetupPacket", "8006"}}, "0501", false},
      {"empty report descriptor falls through",
       {{"ReportDescriptor", "1"}, {"Payload", "AB"}}, "AB", false},
      {"setup before candidates", {{"Buffer", "0102"}, {"xSETUPy", "0x80 06"}}, "8006", true},
      {"candidate order, not map order", {{"Buffer", "0102"}, {"Payload", "0304"}}, "0304", false},
      {"candidate match is case-insensitive", {{"rawdata", "0a0b"}}, "0A0B", false},
      {"longest payload-like value of 16+ digits",
       {{"fid_URB", "0x0011223344556677"}, {"fid_UsbData", "00112233445566778899"}},
       "00112233445566778899", false},
      {"ties: earlier in map order",
       {{"AData", "0011223344556677"}, {"BData", "8899AABBCCDDEEFF"}}, "0011223344556677", false},
      {"below 16 digits is not a payload", {{"fid_Data2", "00112233445566"}}, "", false},
      {"names that are not payload-like", {{"fid_UsbDevice", "0xFFFFC00D1F0C8D30"}}, "", false},
  };
  // clang-format on
  for (const Case& c : cases) {
    const PayloadChoice choice = SelectPayloadHex(c.fields);
    EXPECT_EQ(choice.hex, c.hex) << c.what;
    EXPECT_EQ(choice.isSetup, c.setup) << c.what;
  }
}

TEST(ReassembleByteListTest, Table) {
  {
    TraceValueLists all = {{"fid_ConfigurationDescriptor", {"0x09", "2", "0x3b", "00"}},
                           {"fid_Other", {"1", "2", "3", "4"}}};
    TraceFieldMap fields = {{"fid_ConfigurationDescriptorLength", "99"}};
    EXPECT_EQ(ReassembleByteList(all, &fields), "09023B00");  // ties: first in map order
    EXPECT_EQ(fields["fid_ConfigurationDescriptorLength"], "4");
    EXPECT_EQ(fields["DescriptorType"], "Configuration");
  }
  {
    TraceValueLists all = {{"A", {"1", "2", "3"}},           // fewer than 4 values
                           {"B", {"1", "2", "0x123", "4"}},  // a value with 3 digits
                           {"C", {"1", "zz", "3", "4"}},     // a value with no digit
                           {"D", {"1", "2", "3", "4", "5"}}};
    TraceFieldMap fields;
    EXPECT_EQ(ReassembleByteList(all, &fields), "0102030405");
    EXPECT_EQ(fields["DLength"], "5");
    EXPECT_EQ(fields.count("DescriptorType"), 0u);
  }
  {
    TraceValueLists all = {{"Big", std::vector<std::string>(4097, "FF")},
                           {"Max", std::vector<std::string>(4096, "ee")}};
    TraceFieldMap fields;
    const std::string hex = ReassembleByteList(all, &fields);
    EXPECT_EQ(hex.size(), 8192u);
    EXPECT_EQ(hex.substr(0, 2), "EE");
  }
}

TEST(DecodeSetupPacketTest, AddsMissingFieldsOnly) {
  TraceFieldMap fields = {{"wIndex", "keep"}};
  DecodeSetupPacket("8006000100001200", &fields);
  EXPECT_EQ(fields["bmRequestType"], "0x80");
  EXPECT_EQ(fields["bmRequest"], "0x80");
  EXPECT_EQ(fields["bRequest"], "0x06");
  EXPECT_EQ(fields["wValue"], "0x0100");
  EXPECT_EQ(fields["wIndex"], "keep");
  EXPECT_EQ(fields["wLength"], "0x0012");
  TraceFieldMap short_packet;
  DecodeSetupPacket("80060001000012", &short_packet);
  EXPECT_TRUE(short_packet.empty());
}

TEST(ParseTraceEventsTest, LevelsIdsAndMessages) {
  struct Case {
    Ev event;
    std::string level;
    uint32_t id;
    std::string message;
  };
  Ev info;
  info.message = "  Start of USB\r\n\tDevice   Enumeration ";
  Ev verbose;
  verbose.level = "5";
  verbose.event_id = " 0x3C ";
  Ev missing_level;
  missing_level.level = "";
  missing_level.event_id = "x";
  missing_level.provider = "Vendor-Provider";
  Ev odd_level;
  odd_level.level = "4294967295";
  Ev hid = HidEvent("USB\\VID_1&amp;PID_2", "0x05010902");
  hid.level = "1";
  Ev hid_no_descriptor = HidEvent("USB\\VID_1&amp;PID_2", "");
  hid_no_descriptor.message = "HIDCLASS device information";
  hid_no_descriptor.level = "2";
  Ev entity_message;
  entity_message.level = "3";
  entity_message.message = "a &amp; b";
  const Case cases[] = {
      {info, "Information", 60, "USB 3.x 集线器（USBHUB3）：Start of USB Device Enumeration"},
      {verbose, "Verbose", 60, "USB 3.x 集线器（USBHUB3）事件 #60"},
      {missing_level, "Level 0", 0, "Vendor-Provider事件 #0"},
      {odd_level, "Level -1", 60, "USB 3.x 集线器（USBHUB3）事件 #60"},
      {hid, "Critical", 3, "HID 类驱动发布报告描述符（4 字节）"},
      {hid_no_descriptor, "Error", 3, "HID 类驱动（HIDCLASS）：HIDCLASS device information"},
      {entity_message, "Warning", 60, "USB 3.x 集线器（USBHUB3）：a &amp; b"},
  };
  for (const Case& c : cases) {
    const auto events = Parse(Events({c.event}));
    ASSERT_EQ(events.size(), 1u) << c.message;
    EXPECT_EQ(events[0].level, c.level);
    EXPECT_EQ(events[0].eventId, c.id);
    EXPECT_EQ(events[0].message, c.message);
    EXPECT_EQ(events[0].task, "9");
    EXPECT_EQ(events[0].opcode, "1");
    EXPECT_EQ(events[0].channel, "Analytic");
  }
  EXPECT_EQ(ProviderLabel(""), "未知提供程序");
}

// Events without a provider are skipped; HID report events only when asked.
TEST(ParseTraceEventsTest, ProviderlessAndHidReportFilter) {
  Ev providerless;
  providerless.provider = "";
  const Ev with_payload = HidEvent("USB\\VID_1&amp;PID_2", "0501");
  const Ev without_payload = HidEvent("USB\\VID_1&amp;PID_2", "");
  const std::string xml = Events({providerless, with_payload, without_payload});
  EXPECT_EQ(Parse(xml, false).size(), 1u);
  EXPECT_EQ(Parse(xml, true).size(), 2u);
}

TEST(ParseTraceEventsTest, TimeRules) {
  const int64_t instant = 1714557600500000;  // 2024-05-01T10:00:00.5Z
  const int64_t wall = 1714586400000000;     // 2024-05-01T18:00:00 local, taken as UTC
  struct Case {
    const char* time;
    int64_t start, start_wall;
    int32_t offset;
    int64_t timestamp;
  };
  const Case cases[] = {
      {"2024-05-01T10:00:00.5Z", instant - 1500000, wall, 1500, instant},
      {"2024-05-01T10:00:00.5z", 0, wall, 0, instant},
      {"2024-05-01T10:00:00.5", instant - 1500000, 0, 1500, instant},
      {"2024-05-01T10:00:00.500000000Z", instant - 1999, 0, 1, instant},
      {"2024-05-01T10:00:00.5Z", instant + 1000000, 0, 0, instant},  // before the start
      {"2024-05-01T18:00:00.250+08:00", instant, wall, 250, instant + 250000},
      {"2024-05-01T18:00:00.250000000 +08:00", instant, wall, 250, instant + 250000},
      {"2024-05-01T18:00:00.250+08:00", 0, wall, 250, 0},
      {"2024-05-01T18:00:00.250+08:00", instant, 0, 0, 0},
      {"2024-05-01T17:59:59+08:00", instant, wall, 0, instant - 1000000},
      {"not a time", instant, wall, 0, 0},
      {"2024-06-01T10:00:00Z", 1000000, 0, INT32_MAX, 1717236000000000},  // clamped
  };
  for (const Case& c : cases) {
    Ev e;
    e.time = c.time;
    const auto events = Parse(Events({e}), true, c.start, c.start_wall);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].offsetMs, c.offset) << c.time;
    EXPECT_EQ(events[0].timestampUs, c.timestamp) << c.time;
  }
  int32_t offset = 0;
  int64_t timestamp = 0;
  ComputeEventTimes("2024-05-01T18:00:01+08:00", INT64_MAX, wall, &offset, &timestamp);
  EXPECT_EQ(timestamp, 0);  // would overflow: unknown rather than wrapped
}

TEST(ParseTraceEventsTest, RecordCap) {
  Ev e;
  const std::string one = e.Xml();
  std::string xml;
  for (size_t i = 0; i < kMaxTraceEventRecords + 1; ++i) xml += one;
  std::vector<TraceEventRecord> events;
  bool truncated = false;
  ParseTraceEvents(xml, 0, 0, true, &events, &truncated);
  EXPECT_TRUE(truncated);
  EXPECT_EQ(events.size(), kMaxTraceEventRecords);

  events.resize(kMaxTraceEventRecords - 1);
  ParseTraceEvents(one + one, 0, 0, true, &events, &truncated);  // appends, counts what it holds
  EXPECT_TRUE(truncated);
  EXPECT_EQ(events.size(), kMaxTraceEventRecords);

  events.resize(kMaxTraceEventRecords);
  xml = std::string(kMaxTraceEventRecords, ' ');
  ParseTraceEvents(xml, 0, 0, true, &events, &truncated);
  EXPECT_FALSE(truncated);  // no event after the cap: nothing was cut
}

TEST(ParseTraceEventsTest, EverythingSentIsValidUtf8) {
  Ev e;
  e.provider = "Bad\xC0Provider";
  e.message = "msg \xED\xA0\x80 &#xD800;";
  e.data = {{"N\xFF", "v\xE4\xB8"}, {"ok", "&#xDFFF;&#x10FFFF;"}};
  const auto events = Parse(Events({e}));
  ASSERT_EQ(events.size(), 1u);
  const TraceEventRecord& r = events[0];
  for (const std::string* s :
       {&r.provider, &r.level, &r.task, &r.opcode, &r.channel, &r.message, &r.dataHex}) {
    EXPECT_TRUE(IsValidUtf8(*s)) << *s;
  }
  for (const auto& [k, v] : r.fields) {
    EXPECT_TRUE(IsValidUtf8(k));
    EXPECT_TRUE(IsValidUtf8(v));
  }
  EXPECT_EQ(r.fields.at("ok"), "\xF4\x8F\xBF\xBF");
}

TEST(ParseTraceEventsTest, EnumerationFixture) {
  const std::string xml = ReadFixture("usb_enumeration_capture.xml");
  ASSERT_FALSE(xml.empty());
  const int64_t start = 1714557600000000;  // 10:00:00Z
  const int64_t wall = 1714586400000000;   // 18:00:00 local (+08:00)
  auto events = Parse(xml, true, start, wall);
  ASSERT_EQ(events.size(), 7u);
  EXPECT_EQ(events[0].provider, kHub3);
  EXPECT_EQ(events[0].offsetMs, 250);
  EXPECT_EQ(events[0].timestampUs, start + 250000);
  EXPECT_EQ(events[0].message, "USB 3.x 集线器（USBHUB3）：Start of USB Device Enumeration");
  EXPECT_EQ(events[0].dataHex, "");

  // USB device information: configuration descriptor sent one byte per element.
  EXPECT_EQ(events[1].eventId, 43u);
  EXPECT_EQ(events[1].dataHex.size(), 59u * 2);
  EXPECT_EQ(events[1].dataHex.substr(0, 8), "09023B00");
  EXPECT_EQ(events[1].fields.at("fid_ConfigurationDescriptorLength"), "59");
  EXPECT_EQ(events[1].fields.at("DescriptorType"), "Configuration");

  // Control transfer with a setup packet: GET_DESCRIPTOR(configuration).
  EXPECT_EQ(events[2].provider, "Microsoft-Windows-USB-USBPORT");
  EXPECT_EQ(events[2].dataHex, "800600020000FF00");
  EXPECT_EQ(events[2].fields.at("wValue"), "0x0200");
  EXPECT_EQ(events[2].fields.at("wLength"), "0x00FF");

  EXPECT_EQ(events[3].message, "USB xHCI 控制器（USBXHCI）：USB Device Create");
  EXPECT_EQ(events[4].message, "HID 类驱动发布报告描述符（63 字节）");
  EXPECT_EQ(events[5].message, "HID 类驱动（HIDCLASS）事件 #2");
  EXPECT_EQ(events[6].message, "USB 3.x 集线器（USBHUB3）：Completion of USB Device Enumeration");
  EXPECT_EQ(events[6].offsetMs, 1500);

  EXPECT_EQ(Parse(xml, false, start, wall).size(), 6u);
}

}  // namespace
}  // namespace vek_native
