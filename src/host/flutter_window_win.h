// The host window: owns the engine's view controller, attaches the bridge to
// the engine's messenger, and routes the bridge's and raw input's messages.
#ifndef VEK_HOST_FLUTTER_WINDOW_WIN_H_
#define VEK_HOST_FLUTTER_WINDOW_WIN_H_

#include <windows.h>

#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "bridge/window_poster.h"  // kEventsReadyMessage, kOutcomesReadyMessage
#include "flutter_windows.h"
#include "host/win32_window_win.h"
#include "rawinput/rawinput_capture.h"  // kRawInputTimerId, the raw input flush timer

namespace vek_native {

// The engine project: paths relative to the executable, and the arguments
// handed to the Dart entry point.
struct EngineProject {
  std::wstring assets_path;
  std::wstring icu_data_path;
  std::wstring aot_library_path;
  std::vector<std::string> entrypoint_arguments;
};

// The native modules the window talks to. The product wiring binds them to the
// bridge and raw input; an empty hook is skipped.
struct FlutterWindowHooks {
  std::function<void(FlutterDesktopMessengerRef messenger, HWND window)> attach;
  std::function<void()> detach;
  std::function<void()> drain_events;
  std::function<void()> drain_async_outcomes;
  std::function<void(WPARAM wparam, LPARAM lparam)> raw_input_message;
  std::function<void()> raw_input_timer;
  // The bridge's running jobs, asked after its teardown when a close ends
  // the program; and how the process then ends at once, without library
  // clean-up (TerminateProcess in the product).
  std::function<int()> running_jobs;
  std::function<void(UINT exit_code)> end_process;
};

class FlutterWindow : public Win32Window {
 public:
  FlutterWindow(EngineProject project, FlutterWindowHooks hooks);
  ~FlutterWindow() override;
  FlutterWindow(const FlutterWindow&) = delete;
  FlutterWindow& operator=(const FlutterWindow&) = delete;

 protected:
  bool OnCreate() override;
  void OnDestroy() override;
  LRESULT MessageHandler(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept override;

 private:
  void CreateViewController(int width, int height);
  void DestroyViewController();
  void DetachBridge();
  void TearDownBeforeClosing();

  EngineProject project_;
  FlutterWindowHooks hooks_;
  FlutterDesktopViewControllerRef controller_ = nullptr;
  FlutterDesktopEngineRef engine_ = nullptr;  // owned by controller_
  FlutterDesktopViewRef view_ = nullptr;
  bool attached_ = false;
};
static_assert(!std::is_copy_constructible_v<FlutterWindow>, "owns the view controller");

}  // namespace vek_native

#endif  // VEK_HOST_FLUTTER_WINDOW_WIN_H_
