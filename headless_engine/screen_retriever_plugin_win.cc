// Stand-in for the screen_retriever window plug-in: the host only hands it a
// registrar, so registering is all it does.
#include "flutter_plugin_registrar.h"

extern "C" __declspec(dllexport) void ScreenRetrieverWindowsPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {}
