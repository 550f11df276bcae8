#include "host/flutter_window_win.h"

#include <iostream>
#include <utility>

#include "host/plugin_registrant_win.h"

namespace vek_native {

FlutterWindow::FlutterWindow(EngineProject project, FlutterWindowHooks hooks)
    : project_(std::move(project)), hooks_(std::move(hooks)) {}

// Destroyed here, not in the base destructor: there OnDestroy would no longer
// reach this class, and the bridge would stay attached to a dead engine.
FlutterWindow::~FlutterWindow() { Destroy(); }

void FlutterWindow::CreateViewController(int width, int height) {
  std::vector<const char*> arguments;
  for (const std::string& argument : project_.entrypoint_arguments) {
    arguments.push_back(argument.c_str());
  }
  FlutterDesktopEngineProperties properties{};
  properties.assets_path = project_.assets_path.c_str();
  properties.icu_data_path = project_.icu_data_path.c_str();
  properties.aot_library_path = project_.aot_library_path.c_str();
  properties.dart_entrypoint = "";
  properties.dart_entrypoint_argc = static_cast<int>(arguments.size());
  properties.dart_entrypoint_argv = arguments.empty() ? nullptr : arguments.data();

  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&properties);
  if (!engine) return;
  // The controller owns the engine from here on, also when it fails.
  controller_ = FlutterDesktopViewControllerCreate(width, height, engine);
  if (!controller_) {
    std::cerr << "Failed to create view controller." << std::endl;
    return;
  }
  engine_ = engine;
  view_ = FlutterDesktopViewControllerGetView(controller_);
}

void FlutterWindow::DestroyViewController() {
  if (controller_) FlutterDesktopViewControllerDestroy(controller_);
  controller_ = nullptr;
  engine_ = nullptr;
  view_ = nullptr;
}

bool FlutterWindow::OnCreate() {
  if (!Win32Window::OnCreate()) return false;

  const RECT frame = GetClientArea();
  CreateViewController(frame.right - frame.left, frame.bottom - frame.top);
  if (!engine_ || !view_) {
    DestroyViewController();
    return false;
  }

  ScreenRetrieverWindowsPluginCApiRegisterWithRegistrar(
      FlutterDesktopEngineGetPluginRegistrar(engine_, "ScreenRetrieverWindowsPluginCApi"));
  WindowManagerPluginRegisterWithRegistrar(
      FlutterDesktopEngineGetPluginRegistrar(engine_, "WindowManagerPlugin"));

  if (hooks_.attach) hooks_.attach(FlutterDesktopEngineGetMessenger(engine_), GetHandle());
  attached_ = true;

  SetChildContent(FlutterDesktopViewGetHWND(view_));
  FlutterDesktopEngineSetNextFrameCallback(
      engine_, [](void* window) { static_cast<FlutterWindow*>(window)->Show(); }, this);
  // The first frame may already be done before the callback was set; a forced
  // redraw makes sure another comes.
  FlutterDesktopViewControllerForceRedraw(controller_);
  return true;
}

void FlutterWindow::DetachBridge() {
  if (!attached_) return;
  attached_ = false;
  if (hooks_.detach) hooks_.detach();
}

void FlutterWindow::OnDestroy() {
  // The bridge lets go of the messenger before the engine behind it goes.
  DetachBridge();
  DestroyViewController();
  Win32Window::OnDestroy();
}

// A close that ends the program tears the bridge down first, while the window
// still exists; the teardown is over within its job limit (1500 ms). A job
// still running then may hold up what is left: under Wine, a save dialog
// stuck in COM's start-up (Wine's 64-apartment limit, see the README) kept
// DestroyWindow from returning on this thread, as our window owns the dialog,
// so the window was never destroyed and the program never ended. The job's
// outcome is discarded anyway, so the process ends here, with the exit code
// of a normal close and without the library clean-up that such a thread can
// hold up as well.
void FlutterWindow::TearDownBeforeClosing() {
  DetachBridge();
  const int running = hooks_.running_jobs ? hooks_.running_jobs() : 0;
  if (running <= 0 || !hooks_.end_process) return;
  std::cerr << "vek_tool: " << running
            << " job(s) still running after the teardown; the process ends now" << std::endl;
  hooks_.end_process(0);
}

LRESULT FlutterWindow::MessageHandler(HWND hwnd, UINT message, WPARAM wparam,
                                      LPARAM lparam) noexcept {
  // Raw input's flush timer is ours alone; the engine never sees it.
  if (message == WM_TIMER && wparam == kRawInputTimerId) {
    if (hooks_.raw_input_timer) hooks_.raw_input_timer();
    return 0;
  }
  if (controller_) {
    LRESULT result = 0;
    if (FlutterDesktopViewControllerHandleTopLevelWindowProc(controller_, hwnd, message, wparam,
                                                             lparam, &result)) {
      return result;
    }
  }
  switch (message) {
    case WM_CLOSE:
      if (QuitsOnClose()) TearDownBeforeClosing();
      break;  // the default handling destroys the window
    case kEventsReadyMessage:
      if (hooks_.drain_events) hooks_.drain_events();
      return 0;
    case kOutcomesReadyMessage:
      if (hooks_.drain_async_outcomes) hooks_.drain_async_outcomes();
      return 0;
    case WM_INPUT:
      if (hooks_.raw_input_message) hooks_.raw_input_message(wparam, lparam);
      break;
    case WM_FONTCHANGE:
      if (engine_) FlutterDesktopEngineReloadSystemFonts(engine_);
      break;
    default:
      break;
  }
  return Win32Window::MessageHandler(hwnd, message, wparam, lparam);
}

}  // namespace vek_native
