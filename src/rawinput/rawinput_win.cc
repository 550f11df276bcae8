#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>
#include <utility>

#include "common/clock.h"
#include "common/format.h"
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

// The capture thread's priority: above the process's other threads, the
// window thread included. Measured under Wine with SendInput at 500 Hz, idle
// and with the window thread busy, THREAD_PRIORITY_TIME_CRITICAL gave no
// better intervals or summaries than THREAD_PRIORITY_HIGHEST; on Windows it
// would put the thread at the top of the dynamic range, level with the
// system's own time-critical threads, which a thread that only takes each
// message promptly has no need to compete with.
constexpr int kCaptureThreadPriority = THREAD_PRIORITY_HIGHEST;

constexpr wchar_t kThreadWindowClass[] = L"VekRawInputThreadWindow";

// What a capture thread's window carries: where its messages go. The window
// owns it once its creation has succeeded.
struct ThreadWindowData {
  RawInputThreadHandlers handlers;
  bool owned_by_window = false;
};

// The capture thread's window procedure: raw input and the flush timer go to
// the capture; WM_INPUT then goes on to DefWindowProcW, which releases the
// input. The window's end ends the thread's loop.
LRESULT CALLBACK ThreadWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* data = reinterpret_cast<ThreadWindowData*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_INPUT:
      if (data != nullptr) {
        data->handlers.input(window, static_cast<uintptr_t>(wparam), static_cast<intptr_t>(lparam));
      }
      break;
    case WM_TIMER:
      if (wparam != kRawInputTimerId) break;
      if (data != nullptr) data->handlers.timer(window);
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      if (data != nullptr && data->owned_by_window) delete data;
      PostQuitMessage(0);
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

bool RegisterThreadWindowClass() {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = ThreadWindowProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = kThreadWindowClass;
  return RegisterClassExW(&window_class) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
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
  WindowHandle OpenThreadWindow(RawInputThreadHandlers handlers, std::string* message) override {
    if (!RegisterThreadWindowClass()) {
      *message = FormatWin32Failure("注册 Raw Input 线程窗口类", GetLastError());
      return nullptr;
    }
    auto data = std::make_unique<ThreadWindowData>();
    data->handlers = std::move(handlers);
    HWND window = CreateWindowExW(0, kThreadWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), data.get());
    if (window == nullptr) {
      *message = FormatWin32Failure("创建 Raw Input 消息窗口", GetLastError());
      return nullptr;
    }
    data->owned_by_window = true;
    static_cast<void>(data.release());
    if (SetTimer(window, kRawInputTimerId, kRawInputTimerPeriodMs, nullptr) == 0) {
      *message = FormatWin32Failure("设置 Raw Input 定时器", GetLastError());
      DestroyWindow(window);
      MSG msg;  // the WM_QUIT its destruction posted
      PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
      return nullptr;
    }
    // A raised priority is an improvement, not a requirement: a refusal
    // leaves the thread at the normal priority, still free of other work.
    SetThreadPriority(GetCurrentThread(), kCaptureThreadPriority);
    return window;
  }
  void ServeThreadWindow(WindowHandle) override {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  }
  void CloseThreadWindow(WindowHandle window) override {
    PostMessageW(AsWindow(window), WM_CLOSE, 0, 0);
  }
};

// Never destroyed: at exit the bridge has stopped it, and a capture thread
// must not outlive the state it reports to.
RawInputState& ProcessRawInput() {
  static SystemPlatform platform;
  static RawInputState* const state = new RawInputState(&platform, [] { return NowMicros(); });
  return *state;
}

}  // namespace

void HandleRawInputMessage(uintptr_t wparam, intptr_t lparam) {
  ProcessRawInput().HandleMessage(wparam, lparam);
}

void HandleRawInputTimer() { ProcessRawInput().HandleTimer(); }

void SetRawInputWindow(WindowHandle window) { ProcessRawInput().SetWindow(window); }

bool StartRawInput(const RawInputOptions& options, std::string* message) {
  return ProcessRawInput().Start(options, message);
}

void StopRawInput() { ProcessRawInput().Stop(); }

void PlugRawInputOperations(BridgeOperations& ops, EventEmitter emit,
                            std::function<uint64_t()> dropped_count) {
  ProcessRawInput().SetEventSink(std::move(emit), std::move(dropped_count));
  ops.list_raw_input_devices = [] {
    return EncodableValue(ListRawInputDevices(SystemRawInputDeviceApi(), WindowsHidDeviceApi()));
  };
  ops.start_raw_input = [](const RawInputOptions& options, std::string* message) {
    return StartRawInput(options, message);
  };
  ops.stop_raw_input = [] { StopRawInput(); };
  ops.set_raw_input_window = [](WindowHandle window) { SetRawInputWindow(window); };
}

}  // namespace vek_native
