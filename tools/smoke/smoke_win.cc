// Smoke program: a real window and message loop with the bridge attached
// through an in-process messenger. Encoded method calls are delivered on the
// window thread, as the engine delivers platform messages; the decoded
// replies are printed. Exit code 0 when every reply is the expected one.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bridge/native_bridge.h"
#include "bridge/window_poster.h"
#include "channels/binary_messenger.h"
#include "channels/method_call.h"
#include "channels/standard_codec.h"

namespace vek_native {
namespace {

constexpr UINT kDeliverCallMessage = WM_APP + 1;
constexpr UINT_PTR kGiveUpTimer = 1;
constexpr UINT kGiveUpMs = 10000;

// Hands messages to the installed channel handlers on the calling thread.
class InProcessMessenger : public BinaryMessenger {
 public:
  void Send(const std::string& channel, const uint8_t* message, size_t message_size,
            BinaryReply reply) const override {}
  void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) override {
    if (handler) {
      handlers_[channel] = std::move(handler);
    } else {
      handlers_.erase(channel);
    }
  }
  bool Deliver(const std::string& channel, const std::vector<uint8_t>& message, BinaryReply reply) {
    auto it = handlers_.find(channel);
    if (it == handlers_.end()) return false;
    it->second(message.data(), message.size(), std::move(reply));
    return true;
  }

 private:
  std::map<std::string, BinaryMessageHandler> handlers_;
};

struct PendingCall {
  std::string method;
  std::vector<uint8_t> encoded;
  bool expect_success;  // else not implemented
  bool answered = false;
  bool as_expected = false;
};

InProcessMessenger g_messenger;
std::vector<PendingCall> g_calls;
bool g_timed_out = false;

void PrintReply(PendingCall& call, const uint8_t* reply, size_t size) {
  call.answered = true;
  if (size == 0) {
    std::printf("%s -> not implemented\n", call.method.c_str());
    call.as_expected = !call.expect_success;
  } else {
    EncodableValue result;
    std::string code;
    std::string message;
    EncodableValue details;
    if (StandardMethodCodec::GetInstance().DecodeResponseEnvelope(reply, size, &result, &code,
                                                                  &message, &details)) {
      if (const auto* micros = std::get_if<int64_t>(&result)) {
        std::printf("%s -> success: %lld\n", call.method.c_str(), static_cast<long long>(*micros));
      } else {
        std::printf("%s -> success\n", call.method.c_str());
      }
      call.as_expected = call.expect_success;
    } else {
      std::printf("%s -> error %s: %s\n", call.method.c_str(), code.c_str(), message.c_str());
    }
  }
  std::fflush(stdout);
  for (const PendingCall& c : g_calls) {
    if (!c.answered) return;
  }
  PostQuitMessage(0);
}

LRESULT CALLBACK SmokeWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case kEventsReadyMessage:
      NativeBridge::Instance().DrainEvents();
      return 0;
    case kOutcomesReadyMessage:
      NativeBridge::Instance().DrainAsyncOutcomes();
      return 0;
    case kDeliverCallMessage: {
      const size_t index = static_cast<size_t>(wparam);
      PendingCall& call = g_calls[index];
      if (!g_messenger.Deliver("vek_tool/native", call.encoded,
                               [index](const uint8_t* reply, size_t size) {
                                 PrintReply(g_calls[index], reply, size);
                               })) {
        std::printf("%s -> no handler on vek_tool/native\n", call.method.c_str());
        PostQuitMessage(1);
      }
      return 0;
    }
    case WM_TIMER:
      if (wparam == kGiveUpTimer) {
        g_timed_out = true;
        PostQuitMessage(1);
        return 0;
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

int Run() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = SmokeWindowProc;
  window_class.hInstance = instance;
  window_class.lpszClassName = L"VekSmokeWindow";
  if (RegisterClassW(&window_class) == 0) {
    std::printf("RegisterClassW failed (%lu)\n", GetLastError());
    return 1;
  }
  HWND window =
      CreateWindowExW(0, L"VekSmokeWindow", L"vek_tool smoke", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                      CW_USEDEFAULT, 320, 200, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) {
    std::printf("CreateWindowExW failed (%lu)\n", GetLastError());
    return 1;
  }

  NativeBridge& bridge = NativeBridge::Instance();
  bridge.SetPoster(&Win32WindowPoster());
  bridge.Attach(&g_messenger, window);

  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  const struct {
    const char* method;
    bool expect_success;
  } calls[] = {{"nowMicros", true}, {"noSuchMethod", false}};
  for (const auto& c : calls) {
    auto encoded = codec.EncodeMethodCall(MethodCall(c.method, nullptr));
    g_calls.push_back(PendingCall{c.method, *encoded, c.expect_success});
  }
  for (size_t i = 0; i < g_calls.size(); ++i) PostMessageW(window, kDeliverCallMessage, i, 0);
  SetTimer(window, kGiveUpTimer, kGiveUpMs, nullptr);

  MSG message;
  int exit_code = 1;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  exit_code = static_cast<int>(message.wParam);
  KillTimer(window, kGiveUpTimer);
  bridge.Detach();
  DestroyWindow(window);

  if (g_timed_out) std::printf("gave up: not every call was answered\n");
  for (const PendingCall& c : g_calls) {
    if (!c.answered || !c.as_expected) exit_code = 1;
  }
  std::printf(exit_code == 0 ? "smoke: ok\n" : "smoke: FAILED\n");
  return exit_code;
}

}  // namespace
}  // namespace vek_native

int main() { return vek_native::Run(); }
