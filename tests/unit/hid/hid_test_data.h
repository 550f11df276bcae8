// The recorded vectors under tests/data that the HID tests read.
#ifndef VEK_TESTS_UNIT_HID_HID_TEST_DATA_H_
#define VEK_TESTS_UNIT_HID_HID_TEST_DATA_H_

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

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

// One of hidapi's recorded Windows collections (tests/data/hidapi_pp_data)
// as a fake whose preparsed data ("HidP KDR") is rebuilt from the .pp_data
// text dump.
vek_native::fake::FakeHidDeviceSpec RecordedCollection(const std::string& name);

// hidapi's expected rebuilds of recorded collections, one after the other.
std::vector<uint8_t> HidapiRebuild(std::initializer_list<const char*> names);

}  // namespace vek_test

#endif  // VEK_TESTS_UNIT_HID_HID_TEST_DATA_H_
