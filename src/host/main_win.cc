// Process entry: a command-line helper mode, or the user interface's window.
#include <io.h>
#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "flutter_windows.h"
#include "host/command_line_win.h"
#include "host/flutter_window_win.h"
#include "host/helper_modes.h"
#include "host/product_wiring.h"

namespace vek_native {
namespace {

// Only under a debugger does a GUI program get a console of its own.
void AttachConsoleForDiagnostics() {
  if (AttachConsole(ATTACH_PARENT_PROCESS) || !IsDebuggerPresent()) return;
  if (!AllocConsole()) return;
  FILE* unused = nullptr;
  if (freopen_s(&unused, "CONOUT$", "w", stdout)) _dup2(_fileno(stdout), 1);
  if (freopen_s(&unused, "CONOUT$", "w", stderr)) _dup2(_fileno(stdout), 2);
  std::ios::sync_with_stdio();
  FlutterDesktopResyncOutputStreams();
}

int RunUserInterface(const std::vector<std::string>& arguments) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    EngineProject project;
    project.assets_path = L"data\\flutter_assets";
    project.icu_data_path = L"data\\icudtl.dat";
    project.aot_library_path = L"data\\app.so";
    project.entrypoint_arguments = arguments;

    FlutterWindow window(std::move(project), WireProduct());
    if (!window.Create(L"vek tool", Win32Window::Point(10, 10), Win32Window::Size(1280, 720))) {
      CoUninitialize();
      return 1;
    }
    window.SetQuitOnClose(true);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  CoUninitialize();
  return 0;
}

}  // namespace
}  // namespace vek_native

int APIENTRY wWinMain(HINSTANCE instance, HINSTANCE previous, wchar_t* command_line,
                      int show_command) {
  vek_native::AttachConsoleForDiagnostics();
  const std::vector<std::string> arguments =
      vek_native::ArgumentsFromCommandLine(GetCommandLineW());
  if (auto exit_code =
          vek_native::RunHelperMode(arguments, vek_native::ProductHelperModes(), std::cerr)) {
    return *exit_code;
  }
  return vek_native::RunUserInterface(arguments);
}
