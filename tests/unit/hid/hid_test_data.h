// The recorded vectors under tests/data that the HID tests read.
#ifndef VEK_TESTS_UNIT_HID_HID_TEST_DATA_H_
#define VEK_TESTS_UNIT_HID_HID_TEST_DATA_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "hid/descriptor_synthesis.h"
#include "support/hex.h"
#include "support/hid/fake_hid_device_api.h"

namespace vek_test {

// A file under tests/data; a missing one throws.
std::string ReadTestData(const std::string& relative);

// The USB devices of five umockdev recordings, each as the "key": "value"
// pairs of its JSON object in umockdev_usb/sysfs_descriptors.json, first
// occurrence kept: the descriptor bytes ("descriptors_hex"), the kernel's
// decoding of them (the sysfs attribute names) and, for the FIDO key, its
// "report_descriptor_hex".
std::vector<std::map<std::string, std::string>> SysfsDevices();

// One of hidapi's recorded Windows collections (tests/data/hidapi_pp_data):
// the preparsed data ("HidP KDR") rebuilt from the .pp_data text dump, the
// caps records Windows derives from it, and hidapi's expected rebuild.
struct PpDataDump {
  std::vector<uint8_t> blob;
  vek_native::CapabilitySet capabilities;
  std::vector<uint8_t> expected;
};
PpDataDump LoadPpDataDump(const std::string& name);

// A fake collection answering with a dump's preparsed data and caps.
vek_native::fake::FakeHidDeviceSpec RecordedCollection(const std::string& name);

}  // namespace vek_test

#endif  // VEK_TESTS_UNIT_HID_HID_TEST_DATA_H_
