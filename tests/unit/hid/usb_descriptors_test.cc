#include "hid/usb_descriptors.h"

#include <gtest/gtest.h>

#include <set>

#include "unit/hid/hid_test_data.h"

namespace vek_native {
namespace {

using vek_test::FromHex;

// Real devices, each with the Linux kernel's own decoding of the same bytes.
TEST(UsbDescriptorsTest, RealDevicesMatchTheKernelsDecoding) {
  const auto devices = vek_test::SysfsDevices();
  ASSERT_EQ(devices.size(), 20u);
  for (const auto& kernel : devices) {
    SCOPED_TRACE(kernel.at("recording") + " " + kernel.at("sysfs_path"));
    auto hex = [&](const char* key) { return std::stoi(kernel.at(key), nullptr, 16); };
    auto dec = [&](const char* key) { return std::stoi(kernel.at(key)); };
    const std::vector<uint8_t> bytes = FromHex(kernel.at("descriptors_hex"));
    UsbDescriptorRecord d;
    ASSERT_TRUE(DecodeDeviceDescriptor(ByteSpan(bytes.data(), 18), &d));
    const std::string version = kernel.at("version");  // bcdUSB 0x0210 is "2.10"
    EXPECT_EQ(std::vector<int>({d.idVendor, d.idProduct, d.bcdDevice, d.bcdUSB, d.bDeviceClass,
                                d.bDeviceSubClass, d.bDeviceProtocol, d.bMaxPacketSize0,
                                d.bNumConfigurations}),
              std::vector<int>({hex("idVendor"), hex("idProduct"), hex("bcdDevice"),
                                std::stoi(version) << 8 |
                                    std::stoi(version.substr(version.find('.') + 1), nullptr, 16),
                                hex("bDeviceClass"), hex("bDeviceSubClass"), hex("bDeviceProtocol"),
                                dec("bMaxPacketSize0"), dec("bNumConfigurations")}));
    // The configurations follow back to back; the kernel describes the first.
    std::vector<UsbConfigurationRecord> configs;
    for (size_t at = 18, total = 0; at + 4 <= bytes.size(); at += total) {
      total = ReadLe16(bytes.data(), at + 2);
      ASSERT_LE(at + total, bytes.size());
      configs.push_back(ParseConfiguration(ByteSpan(bytes.data() + at, total)));
    }
    ASSERT_EQ(configs.size(), d.bNumConfigurations);
    const UsbConfigurationRecord& c = configs.front();
    std::set<int> interfaces;
    for (const auto& i : c.interfaces) {
      interfaces.insert(i.bInterfaceNumber);
      EXPECT_EQ(i.endpoints.size(), i.bNumEndpoints);
      for (const auto& e : i.endpoints) {  // each endpoint's own bytes, shown to the user
        ASSERT_EQ(e.raw.size(), e.bLength);
        EXPECT_EQ(std::vector<int>({e.raw[1], e.raw[2], e.raw[6]}),
                  std::vector<int>({5, e.bEndpointAddress, e.bInterval}));
      }
    }
    EXPECT_EQ(
        std::vector<int>({c.bConfigurationValue, c.bmAttributes,
                          c.bMaxPower * (kernel.at("speed") == "5000" ? 8 : 2),
                          static_cast<int>(interfaces.size()), static_cast<int>(c.raw.size())}),
        std::vector<int>({dec("bConfigurationValue"), hex("bmAttributes"), dec("bMaxPower"),
                          dec("bNumInterfaces"), ReadLe16(bytes.data(), 20)}));
  }
}

// The interfaces and endpoints of a configuration in wire order, as
// "I number alt endpoints class|" and "E address maxPacket|".
std::string Item(char kind, std::initializer_list<int> fields) {
  std::string out(1, kind);
  for (int field : fields) out += " " + std::to_string(field);
  return out + "|";
}
std::string Outline(const UsbConfigurationRecord& config) {
  std::string out;
  for (const auto& i : config.interfaces) {
    out += Item('I', {i.bInterfaceNumber, i.bAlternateSetting, i.bNumEndpoints, i.bInterfaceClass});
    for (const auto& e : i.endpoints) out += Item('E', {e.bEndpointAddress, e.wMaxPacketSize});
  }
  return out;
}

TEST(UsbDescriptorsTest, ConfigurationWalkEdges) {
  const std::string header = "090200000101008032", i0 = "090400000103010100";
  const struct {
    std::string hex;
    const char* outline;
    std::vector<std::vector<uint8_t>> class_descriptors;  // of the last interface
  } cases[] = {
      // A zero-length descriptor ends the walk.
      {header + i0 + "0004" + "090401000103010100", "I 0 0 1 3|", {}},
      // An endpoint before the first interface is passed over.
      {header + "0705810308000a" + i0 + "0705820308000a", "I 0 0 1 3|E 130 8|", {}},
      // Short interface and endpoint entries are passed over; one running
      // past the end stops the walk.
      {header + "0804000001030101" + "090402000103010100" + "060581030800" + "09211101",
       "I 2 0 1 3|",
       {}},
      // Class descriptors are the types 0x20 to 0x3f.
      {header + i0 + "032001033f02034003031f04", "I 0 0 1 3|", {{3, 0x20, 1}, {3, 0x3f, 2}}},
  };
  for (const auto& c : cases) {
    const UsbConfigurationRecord config = ParseConfiguration(FromHex(c.hex));
    EXPECT_EQ(Outline(config), c.outline) << c.hex;
    EXPECT_EQ(config.interfaces.back().class_descriptors, c.class_descriptors) << c.hex;
  }
  EXPECT_TRUE(ParseConfiguration(FromHex("0902090000010000")).raw.empty());  // no header

  // A hostile configuration stays bounded.
  std::vector<uint8_t> bytes = FromHex(header + i0);
  for (int i = 0; i < 70; ++i) bytes.insert(bytes.end(), {7, 5, 0x81, 3, 8, 0, 10});
  for (int i = 0; i < 40; ++i) bytes.insert(bytes.end(), {3, 0x24, 0});
  for (uint8_t i = 1; i < 70; ++i) bytes.insert(bytes.end(), {9, 4, i, 0, 1, 3, 1, 1, 0});
  const UsbConfigurationRecord config = ParseConfiguration(bytes);
  ASSERT_EQ(config.interfaces.size(), kMaxInterfaces);
  EXPECT_EQ(config.interfaces[0].endpoints.size(), kMaxEndpoints);
  EXPECT_EQ(config.interfaces[0].class_descriptors.size(), kMaxClassDescriptors);
  EXPECT_EQ(config.interfaces.back().bInterfaceNumber, 63);
}

TEST(UsbDescriptorsTest, StringDescriptors) {
  const std::pair<const char*, const char*> cases[] = {
      {"1a03480065006c006c006f00200077006f0072006c0064002100", "Hello world!"},
      {"03033f", ""},                        // one data byte
      {"0603410042", ""},                    // longer than what came
      {"0a034100000042004300", "A"},         // cut at the first zero unit
      {"06033dd800de", "\xF0\x9F\x98\x80"},  // surrogate pair
      {"04033dd8", "\xEF\xBF\xBD"},          // unpaired surrogate
  };
  for (const auto& c : cases)
    EXPECT_EQ(DecodeStringDescriptor(FromHex(c.first)), c.second) << c.first;
}

}  // namespace
}  // namespace vek_native
