#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "common/text.h"
#include "rawinput/rawinput_devices.h"

namespace vek_native {
namespace {

static_assert(sizeof(RAWINPUTDEVICELIST) == 16, "RAWINPUTDEVICELIST element size");
static_assert(sizeof(RID_DEVICE_INFO) == 32, "RID_DEVICE_INFO size");
static_assert(kRawInputTypeMouse == RIM_TYPEMOUSE && kRawInputTypeKeyboard == RIM_TYPEKEYBOARD &&
                  kRawInputTypeHid == RIM_TYPEHID,
              "raw input device types");

constexpr UINT kFailed = static_cast<UINT>(-1);

HANDLE AsHandle(uint64_t device) {
  return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(device));
}

class SystemDeviceApi final : public RawInputDeviceApi {
 public:
  std::vector<uint64_t> ListDeviceHandles() override {
    UINT count = 0;
    if (GetRawInputDeviceList(nullptr, &count, sizeof(RAWINPUTDEVICELIST)) == kFailed ||
        count == 0) {
      return {};
    }
    std::vector<RAWINPUTDEVICELIST> list(count);
    UINT capacity = count;
    if (GetRawInputDeviceList(list.data(), &capacity, sizeof(RAWINPUTDEVICELIST)) == kFailed) {
      return {};
    }
    std::vector<uint64_t> handles;
    handles.reserve(count);
    for (const RAWINPUTDEVICELIST& entry : list) {
      handles.push_back(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(entry.hDevice)));
    }
    return handles;
  }

  bool ReadDeviceType(uint64_t device, uint32_t* type) override {
    RID_DEVICE_INFO info = {};
    info.cbSize = sizeof(info);
    UINT size = sizeof(info);
    if (GetRawInputDeviceInfoW(AsHandle(device), RIDI_DEVICEINFO, &info, &size) == kFailed) {
      return false;
    }
    *type = info.dwType;
    return true;
  }

  std::string ReadDeviceName(uint64_t device) override {
    UINT length = 0;
    if (GetRawInputDeviceInfoW(AsHandle(device), RIDI_DEVICENAME, nullptr, &length) == kFailed ||
        length == 0) {
      return std::string();
    }
    std::wstring name(static_cast<size_t>(length) + 1, L'\0');
    if (GetRawInputDeviceInfoW(AsHandle(device), RIDI_DEVICENAME, &name[0], &length) == kFailed) {
      return std::string();
    }
    name.resize(name.find(L'\0'));
    return WideToUtf8(name);
  }
};

}  // namespace

RawInputDeviceApi& SystemRawInputDeviceApi() {
  static SystemDeviceApi api;
  return api;
}

}  // namespace vek_native
