// The product's wiring: every feature plugs its operations in here, one line
// each, and the host window's hooks are bound to the bridge and raw input.
#include <memory>
#include <utility>

#include "bridge/bridge_own_operations.h"
#include "bridge/native_bridge.h"
#include "bridge/window_poster.h"
#include "capture/capture_operations.h"
#include "channels/binary_messenger_impl.h"
#include "hid/descriptor_report.h"
#include "hid/hid_operations.h"
#include "host/product_wiring.h"
#include "rawinput/rawinput_operations.h"
#include "rawinput/rawinput_window.h"
#include "serial/serial_operations.h"
#include "usb/usb_operations.h"

namespace vek_native {
namespace {

// The channel layer's view of the engine's messenger, alive while attached.
std::unique_ptr<BinaryMessengerImpl> g_messenger;

BridgeOperations FeatureOperations(const EventEmitter& emit) {
  BridgeOperations operations;
  // One line per feature.
  PlugBridgeOwnOperations(operations);
  PlugHidOperations(operations, emit);
  PlugHidDescriptorOperations(operations);
  PlugCaptureOperations(operations, UsbCaptureHubPortResolver(), &UsbCaptureHubPortCycler());
  PlugRawInputOperations(operations, emit,
                         [] { return NativeBridge::Instance().DroppedEventCount(); });
  PlugSerialOperations(operations, emit);
  PlugUsbOperations(operations);
  return operations;
}

}  // namespace

FlutterWindowHooks WireProduct() {
  NativeBridge& bridge = NativeBridge::Instance();
  const EventEmitter emit = [](EncodableMap&& event) {
    NativeBridge::Instance().EmitEvent(std::move(event));
  };
  bridge.SetOperations(FeatureOperations(emit));
  bridge.SetPoster(&Win32WindowPoster());

  FlutterWindowHooks hooks;
  hooks.attach = [](FlutterDesktopMessengerRef messenger, HWND window) {
    g_messenger = std::make_unique<BinaryMessengerImpl>(messenger);
    NativeBridge::Instance().Attach(g_messenger.get(), window);
  };
  hooks.detach = [] {
    NativeBridge::Instance().Detach();
    g_messenger.reset();
  };
  hooks.drain_events = [] { NativeBridge::Instance().DrainEvents(); };
  hooks.drain_async_outcomes = [] { NativeBridge::Instance().DrainAsyncOutcomes(); };
  hooks.raw_input_message = [](WPARAM wparam, LPARAM lparam) {
    HandleRawInputMessage(static_cast<uintptr_t>(wparam), static_cast<intptr_t>(lparam));
  };
  hooks.raw_input_timer = [] { HandleRawInputTimer(); };
  hooks.running_jobs = [] { return static_cast<int>(NativeBridge::Instance().RunningJobCount()); };
  hooks.end_process = [](UINT exit_code) { TerminateProcess(GetCurrentProcess(), exit_code); };
  return hooks;
}

HelperModeOperations ProductHelperModes() {
  HelperModeOperations modes;
  // One line per helper mode.
  PlugResetUsbHelperMode(modes);
  PlugCaptureHelperModes(modes, &UsbCaptureHubPortCycler());
  return modes;
}

}  // namespace vek_native
