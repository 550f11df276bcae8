// The two window plug-ins the program registers; each lives in its own library
// beside the executable.
#ifndef VEK_HOST_PLUGIN_REGISTRANT_WIN_H_
#define VEK_HOST_PLUGIN_REGISTRANT_WIN_H_

#include "flutter_plugin_registrar.h"

extern "C" {
__declspec(dllimport) void ScreenRetrieverWindowsPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
__declspec(dllimport) void WindowManagerPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
}

#endif  // VEK_HOST_PLUGIN_REGISTRANT_WIN_H_
