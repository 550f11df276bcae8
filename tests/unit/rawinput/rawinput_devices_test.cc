#include "rawinput/rawinput_devices.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "support/hid/fake_hid_device_api.h"

namespace vek_native {
namespace {

// The system's devices by handle: the type (none: unreadable) and the name it
// gives.
class FakeDeviceApi : public RawInputDeviceApi {
 public:
  std::vector<uint64_t> ListDeviceHandles() override {
    std::vector<uint64_t> handles;
    for (const auto& device : devices) handles.push_back(device.first);
    return handles;
  }
  bool ReadDeviceType(uint64_t device, uint32_t* type) override {
    if (devices.at(device).first) *type = *devices.at(device).first;
    return devices.at(device).first.has_value();
  }
  std::string ReadDeviceName(uint64_t device) override { return devices.at(device).second; }
  std::map<uint64_t, std::pair<std::optional<uint32_t>, std::string>> devices;
};

fake::FakeHidDeviceSpec Spec(const std::string& path, std::set<HidAccess> opens,
                             std::u16string product) {
  fake::FakeHidDeviceSpec device;
  device.path = path;
  device.opens = std::move(opens);
  if (product != u"-") device.strings[HidStringKind::kProduct] = std::move(product);
  return device;
}

TEST(RawInputDevicesTest, PathsKeepAllButALeadingNtPrefix) {
  const std::pair<std::string, std::string> cases[] = {
      {"\\??\\HID#VID_046D&PID_C077#7&1", "\\\\?\\HID#VID_046D&PID_C077#7&1"},
      {"\\??\\\\??\\x", "\\\\?\\\\??\\x"},
      {"x\\??\\y", "x\\??\\y"}};
  for (const auto& [name, path] : cases) EXPECT_EQ(NormalizeRawInputDevicePath(name), path);
}

// Devices are listed in the system's order, named by their product string
// (read-only, else without access rights, as the system holds keyboards and
// mice), else by their type.
TEST(RawInputDevicesTest, ListsReadableDevicesWithNames) {
  FakeDeviceApi api;
  api.devices = {{0, {1, ""}},  // an entry the system left unfilled
                 {0x10, {0, "\\??\\HID#mouse"}},
                 {0x20, {1, "\\\\?\\HID#kbd"}},
                 {0x30, {std::nullopt, "\\??\\HID#gone"}},  // unreadable: left out
                 {0x40, {2, "\\??\\HID#pad"}},
                 {0x50, {3, ""}},  // no name: nothing to open
                 {0x60, {1, "\\??\\HID#kbd2"}},
                 {0x70, {0, "\\??\\HID#empty"}}};
  const std::set<HidAccess> read = {HidAccess::kRead};
  fake::FakeHidDeviceApi hid(
      {Spec("\\\\?\\HID#mouse", read, u"\u7F57\u6280 M650"), Spec("\\\\?\\HID#kbd", read, u"-"),
       Spec("\\\\?\\HID#pad", {}, u"never read"),
       Spec("\\\\?\\HID#kbd2", {HidAccess::kAttributesOnly},
            std::u16string(256, u'x') + u"yyy"),  // no room for a 0
       Spec("\\\\?\\HID#empty", read, u""), Spec("\\\\?\\HID#gone", read, u"gone")});
  std::vector<std::vector<EncodableValue>> listed;
  for (const EncodableValue& device : ListRawInputDevices(api, hid)) {
    listed.emplace_back();
    for (const char* key : {"path", "name", "type", "isMouse", "isKeyboard"}) {
      listed.back().push_back(std::get<EncodableMap>(device).at(EncodableValue(key)));
    }
  }
  using V = EncodableValue;
  EXPECT_EQ(listed,
            (std::vector<std::vector<EncodableValue>>{
                {V("\\\\?\\HID#mouse"), V("罗技 M650"), V("mouse"), V(true), V(false)},
                {V("\\\\?\\HID#kbd"), V("键盘"), V("keyboard"), V(false), V(true)},
                {V("\\\\?\\HID#pad"), V("HID 设备"), V("hid"), V(false), V(false)},
                {V(""), V("未知输入设备"), V("unknown"), V(false), V(false)},
                {V("\\\\?\\HID#kbd2"), V(std::string(256, 'x')), V("keyboard"), V(false), V(true)},
                {V("\\\\?\\HID#empty"), V("鼠标"), V("mouse"), V(true), V(false)}}));
}

}  // namespace
}  // namespace vek_native
