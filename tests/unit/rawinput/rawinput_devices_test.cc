#include "rawinput/rawinput_devices.h"

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/hid/fake_hid_device_api.h"

namespace vek_native {
namespace {

// A device list declared as a table; every query is answered from it.
struct FakeDevice {
  uint64_t handle;
  bool info_readable;
  uint32_t type;
  std::string name;  // as the system gives it
};

class FakeDeviceApi : public RawInputDeviceApi {
 public:
  explicit FakeDeviceApi(std::vector<FakeDevice> devices) : devices_(std::move(devices)) {}
  std::vector<uint64_t> ListDeviceHandles() override {
    std::vector<uint64_t> handles;
    for (const auto& d : devices_) handles.push_back(d.handle);
    return handles;
  }
  bool ReadDeviceType(uint64_t device, uint32_t* type) override {
    const FakeDevice* d = Find(device);
    if (d == nullptr || !d->info_readable) return false;
    *type = d->type;
    return true;
  }
  std::string ReadDeviceName(uint64_t device) override {
    ++name_reads;
    const FakeDevice* d = Find(device);
    return d == nullptr ? std::string() : d->name;
  }
  int name_reads = 0;

 private:
  const FakeDevice* Find(uint64_t handle) const {
    for (const auto& d : devices_) {
      if (d.handle == handle) return &d;
    }
    return nullptr;
  }
  std::vector<FakeDevice> devices_;
};

fake::FakeHidDeviceSpec Spec(const std::string& path) {
  fake::FakeHidDeviceSpec spec;
  spec.path = path;
  return spec;
}

const EncodableValue& At(const EncodableValue& record, const char* key) {
  return std::get<EncodableMap>(record).at(EncodableValue(key));
}

TEST(RawInputDevicesTest, NormalizesOnlyTheExactNtPrefix) {
  const struct {
    std::string name;
    std::string path;
  } cases[] = {
      {"\\??\\HID#VID_046D&PID_C077#7&1", "\\\\?\\HID#VID_046D&PID_C077#7&1"},
      {"\\\\?\\HID#VID_046D", "\\\\?\\HID#VID_046D"},
      {"\\??\\\\??\\x", "\\\\?\\\\??\\x"},  // only the leading prefix
      {"x\\??\\y", "x\\??\\y"},
      {"\\??", "\\??"},
      {"\\?\\\\x", "\\?\\\\x"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(NormalizeRawInputDevicePath(c.name), c.path) << c.name;
}

TEST(RawInputDevicesTest, NullHandleHasNoPathAndIsNotQueried) {
  FakeDeviceApi api({});
  EXPECT_EQ(ReadRawInputDevicePath(api, 0), "");
  EXPECT_EQ(api.name_reads, 0);
}

TEST(RawInputDevicesTest, ListsReadableDevicesInOrderWithNamesAndTypes) {
  FakeDeviceApi api({
      {0x10, true, 0, "\\??\\HID#mouse"},
      {0x20, true, 1, "\\\\?\\HID#kbd"},   // no product string
      {0x30, false, 0, "\\??\\HID#gone"},  // information unreadable: left out
      {0, true, 1, ""},                    // entry the system left unfilled
      {0x40, true, 2, "\\??\\HID#pad"},    // cannot be opened
      {0x50, true, 3, ""},                 // no name: nothing to open
      {0x60, true, 1, "\\??\\HID#kbd2"},   // held by the system: opened without rights
  });
  fake::FakeHidDeviceSpec mouse = Spec("\\\\?\\HID#mouse");
  mouse.opens = {HidAccess::kRead};
  mouse.strings[HidStringKind::kProduct] = u"G Pro";
  fake::FakeHidDeviceSpec pad = Spec("\\\\?\\HID#pad");
  pad.opens = {};
  pad.strings[HidStringKind::kProduct] = u"never read";
  fake::FakeHidDeviceSpec kbd2 = Spec("\\\\?\\HID#kbd2");
  kbd2.opens = {HidAccess::kAttributesOnly};
  kbd2.strings[HidStringKind::kProduct] = u"Keyboard 2";
  fake::FakeHidDeviceSpec kbd = Spec("\\\\?\\HID#kbd");
  fake::FakeHidDeviceSpec gone = Spec("\\\\?\\HID#gone");
  fake::FakeHidDeviceApi hid({mouse, kbd, pad, kbd2, gone});
  const EncodableList list = ListRawInputDevices(api, hid);
  ASSERT_EQ(list.size(), 5u);
  const struct {
    const char* path;
    const char* name;
    const char* type;
    bool is_mouse;
    bool is_keyboard;
  } expected[] = {
      {"\\\\?\\HID#mouse", "G Pro", "mouse", true, false},
      {"\\\\?\\HID#kbd", "键盘", "keyboard", false, true},
      {"\\\\?\\HID#pad", "HID 设备", "hid", false, false},
      {"", "未知输入设备", "unknown", false, false},
      {"\\\\?\\HID#kbd2", "Keyboard 2", "keyboard", false, true},
  };
  for (size_t i = 0; i < list.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(std::get<EncodableMap>(list[i]).size(), 5u);
    EXPECT_EQ(At(list[i], "path"), EncodableValue(expected[i].path));
    EXPECT_EQ(At(list[i], "name"), EncodableValue(expected[i].name));
    EXPECT_EQ(At(list[i], "type"), EncodableValue(expected[i].type));
    EXPECT_EQ(At(list[i], "isMouse"), EncodableValue(expected[i].is_mouse));
    EXPECT_EQ(At(list[i], "isKeyboard"), EncodableValue(expected[i].is_keyboard));
  }
  // Read-only first, then without access rights; never overlapped; closed.
  using Attempts = std::vector<std::pair<HidAccess, bool>>;
  EXPECT_EQ(hid.State("\\\\?\\HID#kbd2").open_attempts,
            (Attempts{{HidAccess::kRead, false}, {HidAccess::kAttributesOnly, false}}));
  EXPECT_EQ(hid.State("\\\\?\\HID#mouse").open_attempts, (Attempts{{HidAccess::kRead, false}}));
  EXPECT_TRUE(hid.State("\\\\?\\HID#gone").open_attempts.empty());
  for (const char* path : {"\\\\?\\HID#mouse", "\\\\?\\HID#kbd", "\\\\?\\HID#kbd2"}) {
    EXPECT_EQ(hid.OpenHandles(path), 0) << path;
  }
}

TEST(RawInputDevicesTest, ProductStringsEmptyOrFillingTheBuffer) {
  const std::u16string full(256, u'x');  // no terminator fits
  fake::FakeHidDeviceApi hid;
  fake::FakeHidDeviceSpec empty = Spec("\\\\?\\empty");
  empty.strings[HidStringKind::kProduct] = u"";
  fake::FakeHidDeviceSpec long_name = Spec("\\\\?\\long");
  long_name.strings[HidStringKind::kProduct] = full + u"yyy";
  fake::FakeHidDeviceSpec chinese = Spec("\\\\?\\cn");
  chinese.strings[HidStringKind::kProduct] = u"\u7F57\u6280 M650";
  hid.Add(empty);
  hid.Add(long_name);
  hid.Add(chinese);
  EXPECT_EQ(ReadRawInputDeviceName(hid, "\\\\?\\empty", 0), "鼠标");
  EXPECT_EQ(ReadRawInputDeviceName(hid, "\\\\?\\long", 0), std::string(256, 'x'));
  EXPECT_EQ(ReadRawInputDeviceName(hid, "\\\\?\\cn", 0), "罗技 M650");
}

TEST(RawInputDevicesTest, FallbackNamesByType) {
  fake::FakeHidDeviceApi api;
  const std::pair<uint32_t, const char*> cases[] = {
      {0, "鼠标"}, {1, "键盘"}, {2, "HID 设备"}, {3, "未知输入设备"}, {0xFFFFFFFF, "未知输入设备"}};
  for (const auto& [type, name] : cases) {
    EXPECT_EQ(ReadRawInputDeviceName(api, "", type), name);
    EXPECT_EQ(ReadRawInputDeviceName(api, "\\\\?\\no-such", type), name);
  }
}

}  // namespace
}  // namespace vek_native
