#include "hid/usb_descriptors.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "unit/hid/usb_descriptors_test_json.h"

namespace vek_native {
namespace {

using vek_test::FromHex;
using vek_test::Json;
using vek_test::LoadJson;
using vek_test::SharedTestData;

int HexField(const Json& decoded, const char* key) {
  return std::stoi(decoded[key].text, nullptr, 16);
}
int DecField(const Json& decoded, const char* key) { return std::stoi(decoded[key].text); }

std::set<int> InterfaceNumbers(const UsbConfigurationRecord& config) {
  std::set<int> numbers;
  for (const auto& interface : config.interfaces) numbers.insert(interface.bInterfaceNumber);
  return numbers;
}

// 27 real devices: the Linux kernel decoded the same bytes into sysfs files.
TEST(UsbDescriptors, RealDevicesMatchTheKernelsDecoding) {
  const Json root =
      LoadJson(SharedTestData("usb_descriptors/sysfs_descriptors_from_umockdev.json"));
  ASSERT_EQ(root["devices"].items.size(), 27u);
  for (const Json& device : root["devices"].items) {
    SCOPED_TRACE(device["recording"].text + " " + device["sysfs_path"].text);
    const std::vector<uint8_t> bytes = FromHex(device["descriptors_hex"].text);
    const Json& decoded = device["sysfs_decoded"];
    UsbDescriptorRecord record;
    ASSERT_TRUE(DecodeDeviceDescriptor(ByteSpan(bytes.data(), 18), &record));
    EXPECT_EQ(record.idVendor, HexField(decoded, "idVendor"));
    EXPECT_EQ(record.idProduct, HexField(decoded, "idProduct"));
    EXPECT_EQ(record.bcdDevice, HexField(decoded, "bcdDevice"));
    EXPECT_EQ(record.bDeviceClass, HexField(decoded, "bDeviceClass"));
    EXPECT_EQ(record.bDeviceSubClass, HexField(decoded, "bDeviceSubClass"));
    EXPECT_EQ(record.bDeviceProtocol, HexField(decoded, "bDeviceProtocol"));
    EXPECT_EQ(record.bMaxPacketSize0, DecField(decoded, "bMaxPacketSize0"));
    EXPECT_EQ(record.bNumConfigurations, DecField(decoded, "bNumConfigurations"));
    const std::string version = decoded["version"].text;  // "2.00" = bcdUSB 0x0200
    EXPECT_EQ(record.bcdUSB >> 8, std::stoi(version.substr(0, version.find('.'))));
    EXPECT_EQ(record.bcdUSB & 0xFF, std::stoi(version.substr(version.find('.') + 1), nullptr, 16));

    // The configurations follow the device descriptor back to back.
    std::vector<UsbConfigurationRecord> configs;
    size_t offset = 18;
    while (offset + 4 <= bytes.size()) {
      const size_t total = ReadLe16(bytes.data(), offset + 2);
      ASSERT_LE(offset + total, bytes.size());
      configs.push_back(ParseConfiguration(ByteSpan(bytes.data() + offset, total)));
      offset += total;
    }
    ASSERT_EQ(configs.size(), record.bNumConfigurations);
    const UsbConfigurationRecord& active = configs.front();
    EXPECT_EQ(active.bConfigurationValue, DecField(decoded, "bConfigurationValue"));
    EXPECT_EQ(active.bmAttributes, HexField(decoded, "bmAttributes"));
    const int milliamps = std::stoi(decoded["bMaxPower"].text);
    EXPECT_EQ(active.bMaxPower * (decoded["speed"].text == "5000" ? 8 : 2), milliamps);
    EXPECT_EQ(InterfaceNumbers(active).size(),
              static_cast<size_t>(DecField(decoded, "bNumInterfaces")));
    for (const Json& child : device["interfaces"].items) {
      const Json& fields = child["sysfs_decoded"];
      bool matched = false;
      for (const auto& interface : active.interfaces) {
        if (interface.bInterfaceNumber != HexField(fields, "bInterfaceNumber") ||
            interface.bAlternateSetting != DecField(fields, "bAlternateSetting")) {
          continue;
        }
        matched = true;
        EXPECT_EQ(interface.bNumEndpoints, HexField(fields, "bNumEndpoints"));
        EXPECT_EQ(interface.endpoints.size(), interface.bNumEndpoints);
        EXPECT_EQ(interface.bInterfaceClass, HexField(fields, "bInterfaceClass"));
        EXPECT_EQ(interface.bInterfaceSubClass, HexField(fields, "bInterfaceSubClass"));
        EXPECT_EQ(interface.bInterfaceProtocol, HexField(fields, "bInterfaceProtocol"));
      }
      EXPECT_TRUE(matched) << child["sysfs_path"].text;
    }
    // Where the kernel recorded the report descriptor, the HID class
    // descriptor announces its exact length.
    if (device["hid_report_descriptors"].items.size() == 1) {
      const size_t length =
          FromHex(device["hid_report_descriptors"].items[0]["report_descriptor_hex"].text).size();
      EXPECT_EQ(DeclaredReportDescriptorLength(configs, 0), length);
    }
  }
}

TEST(UsbDescriptors, FidoKeyAnnouncesItsReportDescriptorInTheHidClassDescriptor) {
  const std::vector<uint8_t> config =
      FromHex("09022900010100800f0904000002030000000921100100012222000705040340000207058403400002");
  const UsbConfigurationRecord record = ParseConfiguration(config);
  ASSERT_EQ(record.interfaces.size(), 1u);
  ASSERT_EQ(record.interfaces[0].classDescriptors.size(), 1u);
  EXPECT_EQ(record.interfaces[0].classDescriptors[0], FromHex("092110010001222200"));
  EXPECT_EQ(record.interfaces[0].endpoints.size(), 2u);
  EXPECT_EQ(record.interfaces[0].endpoints[1].bEndpointAddress, 0x84);
  EXPECT_EQ(record.interfaces[0].endpoints[1].wMaxPacketSize, 64);
  EXPECT_EQ(DeclaredReportDescriptorLength({record}, 0), 0x22);
  EXPECT_EQ(DeclaredReportDescriptorLength({record}, 1), 0);
}

// 84 real arrays (webcams, serial adapters, modems): every interface number the
// header counts is found and every interface gets the endpoints it announces.
TEST(UsbDescriptors, RealConfigurationSetsWalkCompletely) {
  const Json root = LoadJson(
      SharedTestData("usb_descriptors/esp-usb_usbtreeview/esp-usb_descriptor_arrays.json"));
  ASSERT_EQ(root["arrays"].items.size(), 84u);
  int configurations = 0;
  for (const Json& array : root["arrays"].items) {
    SCOPED_TRACE(array["file"].text + " " + array["name"].text);
    const std::vector<uint8_t> bytes = FromHex(array["hex"].text);
    ASSERT_EQ(bytes.size(), static_cast<size_t>(array["length"].number));
    if (bytes[1] == 1) {
      UsbDescriptorRecord record;
      EXPECT_TRUE(DecodeDeviceDescriptor(bytes, &record));
      EXPECT_EQ(record.deviceDescriptorRaw, bytes);
      continue;
    }
    ASSERT_EQ(bytes[1], 2);
    ++configurations;
    const UsbConfigurationRecord config = ParseConfiguration(bytes);
    EXPECT_EQ(config.raw, bytes);
    EXPECT_EQ(config.wTotalLength, ReadLe16(bytes.data(), 2));
    if (array["name"].text != "i_tec_config_desc_fs") {  // its header claims 149 interfaces
      EXPECT_EQ(InterfaceNumbers(config).size(), bytes[4]);
    }
    for (const auto& interface : config.interfaces) {
      EXPECT_EQ(interface.endpoints.size(), interface.bNumEndpoints);
    }
  }
  EXPECT_EQ(configurations, 49);
}

// The interfaces and endpoints of a configuration, one line each in wire order:
// "I number alt endpoints class" and "E address maxPacket" (hex).
std::vector<std::string> Outline(const UsbConfigurationRecord& config) {
  std::vector<std::string> lines;
  char line[64];
  for (const auto& interface : config.interfaces) {
    std::snprintf(line, sizeof(line), "I %x %x %x %x", interface.bInterfaceNumber,
                  interface.bAlternateSetting, interface.bNumEndpoints, interface.bInterfaceClass);
    lines.push_back(line);
    for (const auto& endpoint : interface.endpoints) {
      std::snprintf(line, sizeof(line), "E %x %x", endpoint.bEndpointAddress,
                    endpoint.wMaxPacketSize);
      lines.push_back(line);
    }
  }
  return lines;
}

// The same outline from a UsbTreeView text dump: its "Configuration Descriptor"
// section up to the next top-level block.
std::vector<std::string> OutlineFromUsbTreeView(const std::string& text, int* total_length) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  bool inside = false;
  std::map<std::string, int> fields;
  std::string block;
  auto flush = [&] {
    char out[64];
    if (block == "Interface Descriptor") {
      std::snprintf(out, sizeof(out), "I %x %x %x %x", fields["bInterfaceNumber"],
                    fields["bAlternateSetting"], fields["bNumEndpoints"],
                    fields["bInterfaceClass"]);
      lines.push_back(out);
    } else if (block == "Endpoint Descriptor") {
      std::snprintf(out, sizeof(out), "E %x %x", fields["bEndpointAddress"],
                    fields["wMaxPacketSize"]);
      lines.push_back(out);
    }
    fields.clear();
    block.clear();
  };
  while (std::getline(in, line)) {
    const size_t first = line.find_first_not_of(' ');
    if (first != std::string::npos && line.compare(first, 3, "---") == 0) {
      const size_t begin = line.find_first_not_of("- ", first);
      const size_t end = line.find_last_not_of("- \r");
      const std::string heading = begin <= end ? line.substr(begin, end - begin + 1) : "";
      if (!inside) {
        inside = heading == "Configuration Descriptor";
        continue;
      }
      flush();
      if (heading.find("Qualifier") != std::string::npos || heading.find("Other Speed") == 0 ||
          heading.find("String Descriptor") == 0 || heading.find("Binary Object") == 0) {
        break;
      }
      block = heading;
      continue;
    }
    const size_t colon = line.find(": 0x");
    if (!inside || colon == std::string::npos) continue;
    const std::string name = line.substr(0, line.find(' '));
    fields[name] = static_cast<int>(std::strtol(line.c_str() + colon + 4, nullptr, 16));
    if (block.empty() && name == "wTotalLength") *total_length = fields[name];
  }
  flush();
  return lines;
}

// Ten real webcams and composite devices (up to 41 interface descriptors with
// their alternate settings): the walk finds every interface and endpoint that
// UsbTreeView decoded from the same device.
TEST(UsbDescriptors, RealConfigurationSetsMatchUsbTreeView) {
  const Json root = LoadJson(
      SharedTestData("usb_descriptors/esp-usb_usbtreeview/esp-usb_descriptor_arrays.json"));
  const char* devices[] = {"anker_powerconf_c200",
                           "canyon_cne_cwc2",
                           "customer",
                           "customer_dual",
                           "dual_tusb",
                           "elp_h264",
                           "elp_h265",
                           "logitech_c270",
                           "logitech_streamcam",
                           "trust_webcam"};
  for (const char* device : devices) {
    SCOPED_TRACE(device);
    const std::string source = std::string("/") + device + ".hpp";
    std::vector<uint8_t> bytes;
    for (const Json& array : root["arrays"].items) {
      const std::string& file = array["file"].text;
      if (file.size() > source.size() &&
          file.compare(file.size() - source.size(), source.size(), source) == 0 &&
          array["name"].text == "cfg_desc") {
        bytes = FromHex(array["hex"].text);
      }
    }
    ASSERT_FALSE(bytes.empty());
    int total_length = 0;
    const std::vector<std::string> expected = OutlineFromUsbTreeView(
        vek_test::ReadTextFile(SharedTestData(std::string("usb_descriptors/esp-usb_usbtreeview/") +
                                              device + ".usbtreeview.txt")),
        &total_length);
    const UsbConfigurationRecord config = ParseConfiguration(bytes);
    EXPECT_EQ(config.wTotalLength, total_length);
    EXPECT_GT(expected.size(), 3u);
    EXPECT_EQ(Outline(config), expected);
  }
}

TEST(UsbDescriptors, SetOneByteShortEndsAtTheCutDescriptor) {
  const Json root = LoadJson(
      SharedTestData("usb_descriptors/esp-usb_usbtreeview/esp-usb_descriptor_arrays.json"));
  for (const Json& array : root["arrays"].items) {
    if (array["file"].text.find("customer.hpp") == std::string::npos ||
        array["name"].text != "cfg_desc")
      continue;
    const std::vector<uint8_t> bytes = FromHex(array["hex"].text);
    std::vector<uint8_t> complete = bytes;
    const UsbConfigurationRecord cut = ParseConfiguration(bytes);
    EXPECT_EQ(cut.wTotalLength, bytes.size() + 1);
    EXPECT_EQ(InterfaceNumbers(cut).size(), 5u);
    // The last descriptor (a class-specific endpoint descriptor, 6 of its 7
    // bytes present) is not taken; with its missing byte it is.
    complete.push_back(0);
    const UsbConfigurationRecord whole = ParseConfiguration(complete);
    ASSERT_EQ(whole.interfaces.size(), cut.interfaces.size());
    EXPECT_EQ(whole.interfaces.back().classDescriptors.size(),
              cut.interfaces.back().classDescriptors.size() + 1);
    EXPECT_EQ(whole.interfaces.back().classDescriptors.back(), FromHex("07250101010000"));
    return;
  }
  FAIL() << "customer.hpp cfg_desc missing from the vectors";
}

TEST(UsbDescriptors, ParserTestVectorsOfOtherLibraries) {
  const Json nusb = LoadJson(SharedTestData("usb_descriptors/nusb_descriptor_tests.json"));
  int checked = 0;
  for (const Json& vector : nusb["vectors"].items) {
    const std::string id = vector["id"].text;
    SCOPED_TRACE(id);
    const std::vector<uint8_t> bytes = FromHex(vector["hex"].text);
    if (id == "nusb/test_linux_root_hub/device") {
      UsbDescriptorRecord record;
      ASSERT_TRUE(DecodeDeviceDescriptor(bytes, &record));
      EXPECT_EQ(record.bcdUSB, 0x0200);
      EXPECT_EQ(record.bDeviceClass, 9);
      EXPECT_EQ(record.bDeviceProtocol, 1);
      EXPECT_EQ(record.idVendor, 0x1d6b);
      EXPECT_EQ(record.idProduct, 0x0002);
      EXPECT_EQ(record.bcdDevice, 0x0510);
      EXPECT_EQ(record.iManufacturer, 3);
      EXPECT_EQ(record.iProduct, 2);
      EXPECT_EQ(record.iSerialNumber, 1);
      ++checked;
    } else if (id == "nusb/test_linux_root_hub/config") {
      const UsbConfigurationRecord config = ParseConfiguration(bytes);
      ASSERT_EQ(config.interfaces.size(), 1u);
      EXPECT_EQ(config.interfaces[0].bInterfaceClass, 9);
      ASSERT_EQ(config.interfaces[0].endpoints.size(), 1u);
      const UsbEndpointRecord& endpoint = config.interfaces[0].endpoints[0];
      EXPECT_EQ(endpoint.bEndpointAddress, 0x81);
      EXPECT_EQ(endpoint.bmAttributes & 3, 3);
      EXPECT_EQ(endpoint.wMaxPacketSize, 4);
      EXPECT_EQ(endpoint.bInterval, 12);
      EXPECT_EQ(endpoint.raw, FromHex("0705810304000c"));
      ++checked;
    } else if (id == "nusb/test_empty_config") {
      const UsbConfigurationRecord config = ParseConfiguration(bytes);
      EXPECT_EQ(config.bConfigurationValue, 1);
      EXPECT_TRUE(config.interfaces.empty());
      ++checked;
    } else if (id == "nusb/test_malformed") {
      EXPECT_TRUE(ParseConfiguration(bytes).interfaces.empty());
      ++checked;
    } else if (id == "nusb/test_dell_webcam/config") {
      // Cut short by its author: the walk stops inside without reading past it.
      const UsbConfigurationRecord config = ParseConfiguration(bytes);
      EXPECT_GT(config.wTotalLength, bytes.size());
      EXPECT_FALSE(config.interfaces.empty());
      ++checked;
    }
  }
  EXPECT_EQ(checked, 5);

  const Json chromium =
      LoadJson(SharedTestData("usb_descriptors/chromium_usb_descriptors_unittest.json"));
  for (const Json& vector : chromium["vectors"].items) {
    if (vector["id"].text != "chromium/ReadDescriptors(control transfers)") continue;
    const UsbConfigurationRecord first =
        ParseConfiguration(FromHex(vector["config_0x0200_hex"].text));
    const UsbConfigurationRecord second =
        ParseConfiguration(FromHex(vector["config_0x0201_hex"].text));
    EXPECT_EQ(first.bConfigurationValue, 1);
    EXPECT_EQ(second.bConfigurationValue, 2);
    EXPECT_EQ(first.bMaxPower, 16);
    ASSERT_EQ(first.interfaces.size(), 2u);
    EXPECT_EQ(first.interfaces[1].bInterfaceClass, 0x78);
    ASSERT_EQ(first.interfaces[0].endpoints.size(), 3u);
    EXPECT_EQ(first.interfaces[0].endpoints[0].wMaxPacketSize, 512);
    EXPECT_EQ(first.interfaces[0].endpoints[0].bmAttributes & 3, 2);  // bulk
    EXPECT_EQ(first.interfaces[0].endpoints[2].bEndpointAddress, 0x03);
    ASSERT_EQ(second.interfaces.size(), 2u);  // interface 0 in two alternate settings
    EXPECT_EQ(second.interfaces[1].bAlternateSetting, 1);
    ASSERT_EQ(second.interfaces[1].endpoints.size(), 2u);
    EXPECT_EQ(second.interfaces[1].endpoints[0].wMaxPacketSize, 1024);
    EXPECT_EQ(second.interfaces[1].endpoints[0].bmAttributes & 3, 1);  // isochronous
  }
}

struct StringCase {
  const char* name;
  const char* hex;
  const char* text;
};

TEST(UsbDescriptors, StringDescriptors) {
  const StringCase cases[] = {
      {"hello", "1a03480065006c006c006f00200077006f0072006c0064002100", "Hello world!"},
      {"short header", "01", ""},
      {"bLength below 2", "0103", ""},
      {"odd length drops the trailing byte", "0d03480065006c006c006f0021", "Hello"},
      {"empty", "0203", ""},
      {"one data byte", "03033f", ""},
      {"bLength above the bytes", "0a03480069", ""},
      {"cut at the first zero unit", "0a034100000042004300", "A"},
      {"surrogate pair", "06033dd800de", "\xF0\x9F\x98\x80"},
      {"unpaired surrogate", "04033dd8", "\xEF\xBF\xBD"},
      {"chinese", "0a032c7b004e2a4e3e6d", "第一个派"},
      {"empty input", "", ""},
  };
  for (const StringCase& c : cases) {
    EXPECT_EQ(DecodeStringDescriptor(FromHex(c.hex)), c.text) << c.name;
  }
  const Json chromium =
      LoadJson(SharedTestData("usb_descriptors/chromium_usb_descriptors_unittest.json"));
  int strings = 0;
  for (const Json& vector : chromium["vectors"].items) {
    for (const Json& entry : vector["strings"].items) {
      EXPECT_EQ(DecodeStringDescriptor(FromHex(entry["hex"].text)), entry["string"].text);
      ++strings;
    }
  }
  EXPECT_EQ(strings, 3);
}

std::vector<uint8_t> Header(uint16_t total) {
  return {9, 2, static_cast<uint8_t>(total), static_cast<uint8_t>(total >> 8), 1, 1, 0, 0x80, 50};
}
void Add(std::vector<uint8_t>* bytes, std::vector<uint8_t> descriptor) {
  bytes->insert(bytes->end(), descriptor.begin(), descriptor.end());
}
std::vector<uint8_t> Interface(uint8_t number) { return {9, 4, number, 0, 1, 3, 1, 1, 0}; }
std::vector<uint8_t> Endpoint(uint8_t address) { return {7, 5, address, 3, 8, 0, 10}; }

TEST(UsbDescriptors, ConfigurationWalkEdges) {
  {  // A zero-length descriptor in the middle ends the walk there.
    std::vector<uint8_t> bytes = Header(0);
    Add(&bytes, Interface(0));
    Add(&bytes, {0, 4});
    Add(&bytes, Interface(1));
    EXPECT_EQ(ParseConfiguration(bytes).interfaces.size(), 1u);
  }
  {  // An endpoint before the first interface is ignored.
    std::vector<uint8_t> bytes = Header(0);
    Add(&bytes, Endpoint(0x81));
    Add(&bytes, Interface(0));
    Add(&bytes, Endpoint(0x82));
    const UsbConfigurationRecord config = ParseConfiguration(bytes);
    ASSERT_EQ(config.interfaces.size(), 1u);
    ASSERT_EQ(config.interfaces[0].endpoints.size(), 1u);
    EXPECT_EQ(config.interfaces[0].endpoints[0].bEndpointAddress, 0x82);
  }
  {  // Too short for a header.
    const std::vector<uint8_t> bytes{9, 2, 9, 0, 0, 1, 0, 0};
    const UsbConfigurationRecord config = ParseConfiguration(bytes);
    EXPECT_TRUE(config.raw.empty());
    EXPECT_EQ(config.bLength, 0);
  }
  {  // Short interface/endpoint entries and descriptors running past the end.
    std::vector<uint8_t> bytes = Header(0);
    Add(&bytes, {8, 4, 0, 0, 1, 3, 1, 1});
    Add(&bytes, Interface(2));
    Add(&bytes, {6, 5, 0x81, 3, 8, 0});
    Add(&bytes, {9, 0x21, 0x11, 0x01});
    const UsbConfigurationRecord config = ParseConfiguration(bytes);
    ASSERT_EQ(config.interfaces.size(), 1u);
    EXPECT_EQ(config.interfaces[0].bInterfaceNumber, 2);
    EXPECT_TRUE(config.interfaces[0].endpoints.empty());
    EXPECT_TRUE(config.interfaces[0].classDescriptors.empty());
  }
  {  // Class descriptors 0x20..0x3F are kept in order; 0x40 is not.
    std::vector<uint8_t> bytes = Header(0);
    Add(&bytes, Interface(0));
    Add(&bytes, {3, 0x20, 1});
    Add(&bytes, {3, 0x3F, 2});
    Add(&bytes, {3, 0x40, 3});
    Add(&bytes, {3, 0x1F, 4});
    const UsbConfigurationRecord config = ParseConfiguration(bytes);
    const auto& descriptors = config.interfaces[0].classDescriptors;
    ASSERT_EQ(descriptors.size(), 2u);
    EXPECT_EQ(descriptors[1], (std::vector<uint8_t>{3, 0x3F, 2}));
  }
}

TEST(UsbDescriptors, ConfigurationCaps) {
  std::vector<uint8_t> bytes = Header(0);
  Add(&bytes, Interface(0));
  for (int i = 0; i < 70; ++i) Add(&bytes, Endpoint(0x81));
  for (int i = 0; i < 40; ++i) Add(&bytes, {3, 0x24, static_cast<uint8_t>(i)});
  for (int i = 1; i < 70; ++i) Add(&bytes, Interface(static_cast<uint8_t>(i)));
  const UsbConfigurationRecord config = ParseConfiguration(bytes);
  ASSERT_EQ(config.interfaces.size(), kMaxInterfaces);
  EXPECT_EQ(config.interfaces[0].endpoints.size(), kMaxEndpoints);
  EXPECT_EQ(config.interfaces[0].classDescriptors.size(), kMaxClassDescriptors);
  EXPECT_EQ(config.interfaces.back().bInterfaceNumber, 63);
}

TEST(UsbDescriptors, RequestBufferLayout) {
  const std::vector<uint8_t> request = BuildDescriptorRequest(0x01020304, 0x22, 0, 1, 0x81, 63);
  ASSERT_EQ(request.size(), 63u + 20u);
  const std::vector<uint8_t> header(request.begin(), request.begin() + 12);
  EXPECT_EQ(header, (std::vector<uint8_t>{4, 3, 2, 1, 0x81, 6, 0x00, 0x22, 1, 0, 63, 0}));
  for (size_t i = 12; i < request.size(); ++i) EXPECT_EQ(request[i], 0) << i;

  const struct {
    uint32_t asked;
    size_t size;
  } lengths[] = {{0, 4116}, {4096, 4116}, {4097, 4116}, {255, 275}, {18, 38}};
  for (const auto& length : lengths) {
    const std::vector<uint8_t> r = BuildDescriptorRequest(1, 2, 3, 0x0409, 0x80, length.asked);
    EXPECT_EQ(r.size(), length.size) << length.asked;
    EXPECT_EQ(ReadLe16(r.data(), 10), length.size - 20) << length.asked;
    EXPECT_EQ(ReadLe16(r.data(), 6), 0x0203);
    EXPECT_EQ(ReadLe16(r.data(), 8), 0x0409);
  }
}

TEST(UsbDescriptors, RequestReplyData) {
  std::vector<uint8_t> buffer = BuildDescriptorRequest(1, 1, 0, 0, 0x80, 18);
  for (size_t i = 12; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i);
  EXPECT_TRUE(DescriptorRequestData(buffer, 12).empty());
  EXPECT_TRUE(DescriptorRequestData(buffer, 0).empty());
  EXPECT_EQ(DescriptorRequestData(buffer, 13), (std::vector<uint8_t>{12}));
  EXPECT_EQ(DescriptorRequestData(buffer, 30).size(), 18u);
  EXPECT_EQ(DescriptorRequestData(buffer, 100000).size(), buffer.size() - 12);  // a lying count
}

TEST(UsbDescriptors, MapForms) {
  UsbDescriptorRecord record;
  const std::vector<uint8_t> device = FromHex("12010002090001406b1d0200100503020101");
  ASSERT_TRUE(DecodeDeviceDescriptor(device, &record));
  record.configurations.push_back(
      ParseConfiguration(FromHex("09021900010100e0000904000001090000000705810304000c")));
  const EncodableValue device_map = DeviceDescriptorMap(record);
  const auto& map = std::get<EncodableMap>(device_map);
  EXPECT_EQ(map.size(), 15u);
  EXPECT_EQ(map.at(EncodableValue("idVendor")).LongValue(), 0x1d6b);
  EXPECT_EQ(map.at(EncodableValue("bcdDevice")).LongValue(), 0x0510);
  EXPECT_EQ(std::get<std::vector<uint8_t>>(map.at(EncodableValue("raw"))), device);
  const EncodableValue configurations = ConfigurationList(record);
  const auto& list = std::get<EncodableList>(configurations);
  ASSERT_EQ(list.size(), 1u);
  const auto& config = std::get<EncodableMap>(list[0]);
  EXPECT_EQ(config.size(), 9u);
  EXPECT_EQ(config.at(EncodableValue("bmAttributes")).LongValue(), 0xe0);
  const auto& interfaces = std::get<EncodableList>(config.at(EncodableValue("interfaces")));
  const auto& interface = std::get<EncodableMap>(interfaces.at(0));
  EXPECT_EQ(interface.size(), 10u);
  EXPECT_EQ(interface.at(EncodableValue("bInterfaceClass")).LongValue(), 9);
  const auto& endpoint = std::get<EncodableMap>(
      std::get<EncodableList>(interface.at(EncodableValue("endpoints"))).at(0));
  EXPECT_EQ(endpoint.size(), 7u);
  EXPECT_EQ(endpoint.at(EncodableValue("wMaxPacketSize")).LongValue(), 4);
  EXPECT_TRUE(std::holds_alternative<int64_t>(endpoint.at(EncodableValue("bInterval"))));
}

}  // namespace
}  // namespace vek_native
