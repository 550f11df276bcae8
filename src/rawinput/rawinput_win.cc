#include <windows.h>

#include <cstddef>
#include <string>
#include <utility>

#include "common/clock.h"
#include "rawinput/raw_input_record.h"
#include "rawinput/rawinput_capture.h"
#include "rawinput/rawinput_devices.h"
#include "rawinput/rawinput_operations.h"
#include "rawinput/rawinput_window.h"

namespace vek_native {
namespace {

// The decoder reads RAWINPUT bytes by these offsets; they hold for 64-bit
// processes only.
static_assert(sizeof(RAWINPUTDEVICE) == 16, "RAWINPUTDEVICE element size");
static_assert(sizeof(RAWINPUTHEADER) == kRawInputHeaderSize, "RAWINPUTHEADER size");
static_assert(offsetof(RAWINPUTHEADER, hDevice) == kRawInputDeviceOffset, "hDevice offset");
static_assert(offsetof(RAWINPUT, data) == kRawInputHeaderSize, "RAWINPUT data offset");
static_assert(sizeof(RAWMOUSE) == kRawMouseSize, "RAWMOUSE size");
static_assert(offsetof(RAWMOUSE, usFlags) == kRawMouseFlagsOffset, "usFlags offset");
static_assert(offsetof(RAWMOUSE, usButtonFlags) == kRawMouseButtonFlagsOffset, "usButtonFlags");
static_assert(offsetof(RAWMOUSE, usButtonData) == kRawMouseButtonDataOffset, "usButtonData");
static_assert(offsetof(RAWMOUSE, lLastX) == kRawMouseLastXOffset, "lLastX offset");
static_assert(offsetof(RAWMOUSE, lLastY) == kRawMouseLastYOffset, "lLastY offset");
static_assert(sizeof(RAWKEYBOARD) == kRawKeyboardSize, "RAWKEYBOARD size");
static_assert(offsetof(RAWKEYBOARD, MakeCode) == kRawKeyboardMakeCodeOffset, "MakeCode offset");
static_assert(offsetof(RAWKEYBOARD, Flags) == kRawKeyboardFlagsOffset, "Flags offset");
static_assert(offsetof(RAWKEYBOARD, VKey) == kRawKeyboardVKeyOffset, "VKey offset");
static_assert(kRimInput == RIM_INPUT && kRimInputSink == RIM_INPUTSINK, "WM_INPUT codes");
static_assert(kRiKeyBreak == RI_KEY_BREAK && kRiKeyE0 == RI_KEY_E0 && kRiKeyE1 == RI_KEY_E1,
              "RAWKEYBOARD flags");
static_assert(kRiMouseWheel == RI_MOUSE_WHEEL && kRiMouseHWheel == RI_MOUSE_HWHEEL &&
                  kMouseMoveAbsolute == MOUSE_MOVE_ABSOLUTE,
              "RAWMOUSE flags");

constexpr UINT kFailed = static_cast<UINT>(-1);

HWND AsWindow(WindowHandle window) { return static_cast<HWND>(window); }
HRAWINPUT AsInput(intptr_t input) { return reinterpret_cast<HRAWINPUT>(input); }

bool RegisterUsages(DWORD flags, HWND target) {
  // Generic desktop keyboard (1/6) and mouse (1/2).
  const RAWINPUTDEVICE devices[2] = {{1, 6, flags, target}, {1, 2, flags, target}};
  return RegisterRawInputDevices(devices, 2, sizeof(RAWINPUTDEVICE)) != FALSE;
}

class SystemPlatform final : public RawInputPlatform {
 public:
  bool RegisterInput(WindowHandle window, uint32_t* error) override {
    // RIDEV_INPUTSINK: input arrives also while the window is in the background.
    if (RegisterUsages(RIDEV_INPUTSINK, AsWindow(window))) return true;
    *error = GetLastError();
    return false;
  }
  void UnregisterInput() override { RegisterUsages(RIDEV_REMOVE, nullptr); }
  void SetFlushTimer(WindowHandle window) override {
    SetTimer(AsWindow(window), kRawInputTimerId, kRawInputTimerPeriodMs, nullptr);
  }
  void KillFlushTimer(WindowHandle window) override {
    KillTimer(AsWindow(window), kRawInputTimerId);
  }
  uint32_t InputSize(intptr_t input) override {
    UINT size = 0;
    if (GetRawInputData(AsInput(input), RID_INPUT, nullptr, &size, sizeof(RAWINPUTHEADER)) ==
        kFailed) {
      return 0;
    }
    return size;
  }
  bool ReadInput(intptr_t input, uint8_t* buffer, uint32_t capacity, uint32_t* written) override {
    UINT size = capacity;
    const UINT result =
        GetRawInputData(AsInput(input), RID_INPUT, buffer, &size, sizeof(RAWINPUTHEADER));
    if (result == kFailed) return false;
    *written = result;
    return true;
  }
  std::string ReadDevicePath(uint64_t device) override {
    return ReadRawInputDevicePath(SystemRawInputDeviceApi(), device);
  }
};

RawInputState& ProcessRawInput() {
  static SystemPlatform platform;
  static RawInputState state(&platform, [] { return NowMicros(); });
  return state;
}

}  // namespace

void HandleRawInputMessage(uintptr_t wparam, intptr_t lparam) {
  ProcessRawInput().HandleMessage(wparam, lparam);
}

void HandleRawInputTimer() { ProcessRawInput().HandleTimer(); }

void SetRawInputWindow(WindowHandle window) { ProcessRawInput().SetWindow(window); }

bool StartRawInput(int32_t chatter_threshold_ms, std::string* message) {
  return ProcessRawInput().Start(chatter_threshold_ms, message);
}

void StopRawInput() { ProcessRawInput().Stop(); }

void PlugRawInputOperations(BridgeOperations& ops, EventEmitter emit,
                            std::function<uint64_t()> dropped_count) {
  ProcessRawInput().SetEventSink(std::move(emit), std::move(dropped_count));
  ops.list_raw_input_devices = [] {
    return EncodableValue(ListRawInputDevices(SystemRawInputDeviceApi(), WindowsHidDeviceApi()));
  };
  ops.start_raw_input = [](int32_t chatter_threshold_ms, std::string* message) {
    return StartRawInput(chatter_threshold_ms, message);
  };
  ops.stop_raw_input = [] { StopRawInput(); };
  ops.set_raw_input_window = [](WindowHandle window) { SetRawInputWindow(window); };
}

}  // namespace vek_native
