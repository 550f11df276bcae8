// Stand-in for the window_manager plug-in: the host only hands it a registrar.
#include "flutter_plugin_registrar.h"

extern "C" __declspec(dllexport) void WindowManagerPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {}
