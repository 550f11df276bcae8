// Our stand-in for the engine library: the engine's C API with Flutter's names,
// implementing only what the program uses. The view is a real child window;
// the messenger is connected to a driver over standard input and output in the
// framed records of frame_codec.h. Incoming records are handed to the window
// thread by posting to the view window, the way the real engine delivers
// platform messages on the platform thread.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "flutter_windows.h"
#include "frame_codec.h"

using vek_native::EncodeFrame;
using vek_native::Frame;
using vek_native::FrameKind;
using vek_native::FrameReader;

struct _FlutterPlatformMessageResponseHandle {
  uint32_t id = 0;
  bool wants_response = false;
};

struct FlutterDesktopMessenger {
  std::atomic<int> references{1};
  // Lock/Unlock may be taken by a reply callable while the window thread sends.
  std::recursive_mutex mutex;
  FlutterDesktopEngine* engine = nullptr;  // null once the engine is gone
};

struct FlutterDesktopPluginRegistrar {
  FlutterDesktopEngine* engine = nullptr;
};

struct FlutterDesktopView {
  HWND hwnd = nullptr;
};

struct FlutterDesktopEngine {
  std::vector<std::string> entrypoint_arguments;
  FlutterDesktopMessenger* messenger = nullptr;
  // Touched on the window thread only.
  std::map<std::string, std::pair<FlutterDesktopMessageCallback, void*>> callbacks;
  std::map<std::string, std::unique_ptr<FlutterDesktopPluginRegistrar>> registrars;
  VoidCallback next_frame = nullptr;
  void* next_frame_data = nullptr;
  HWND view = nullptr;
  // The thread that made the view: the only one the engine takes messages
  // from, as the real engine allows messages only on its platform thread.
  DWORD platform_thread = 0;
  // Replies owed to our sends; sends may come from any thread.
  std::mutex replies_mutex;
  std::map<uint32_t, std::pair<FlutterDesktopBinaryReply, void*>> pending_replies;
  uint32_t next_reply_id = 1;
};

struct FlutterDesktopViewControllerState {
  FlutterDesktopEngine* engine = nullptr;
  FlutterDesktopView view;
};

namespace {

constexpr UINT kDeliverFrames = WM_USER + 1;
constexpr UINT kDriverGone = WM_USER + 2;
constexpr UINT kNextFrame = WM_USER + 3;
constexpr wchar_t kViewClassName[] = L"VEK_HEADLESS_FLUTTER_VIEW";

// The process's one connection to its driver. Never destroyed: the reading
// thread may still be blocked in ReadFile while the process exits.
class DriverLink {
 public:
  static DriverLink& Get() {
    static DriverLink* link = new DriverLink();
    return *link;
  }

  bool enabled() const { return enabled_; }

  void Start() {
    std::call_once(started_, [this] {
      // The Win32 environment, not the C runtime's copy taken at start-up.
      char off[2] = {};
      enabled_ = !(GetEnvironmentVariableA("VEK_ENGINE_NO_DRIVER", off, sizeof(off)) == 1 &&
                   off[0] == '1');
      if (!enabled_) return;
      // Frames are binary: no CR/LF translation on either stream.
      _setmode(_fileno(stdin), _O_BINARY);
      _setmode(_fileno(stdout), _O_BINARY);
      output_ = GetStdHandle(STD_OUTPUT_HANDLE);
      // Straight from CreateThread: under Wine a detached winpthreads thread
      // sometimes never runs, and then no frame would ever arrive.
      HANDLE reader = CreateThread(
          nullptr, 0,
          [](void* link) -> DWORD {
            static_cast<DriverLink*>(link)->ReadLoop();
            return 0;
          },
          this, 0, nullptr);
      if (reader == nullptr) {
        std::fprintf(stderr, "headless engine: cannot start the driver reader (error %lu)\n",
                     GetLastError());
        enabled_ = false;
        return;
      }
      CloseHandle(reader);
    });
  }

  // Frames go to this window from now on (null: keep them queued).
  void SetTarget(HWND view) {
    std::lock_guard<std::mutex> lock(mutex_);
    target_ = view;
    if (!view) return;
    if (!incoming_.empty()) PostMessageW(view, kDeliverFrames, 0, 0);
    if (ended_) PostMessageW(view, kDriverGone, 0, 0);
  }

  std::deque<Frame> TakeFrames() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::deque<Frame> frames;
    frames.swap(incoming_);
    return frames;
  }

  void Write(const Frame& frame) {
    if (!enabled_) return;
    const std::vector<uint8_t> bytes = EncodeFrame(frame);
    if (bytes.empty()) {
      std::fprintf(stderr, "headless engine: frame on \"%s\" too large, dropped\n",
                   frame.channel.c_str());
      return;
    }
    std::lock_guard<std::mutex> lock(write_mutex_);
    if (write_failed_) return;
    size_t done = 0;
    while (done < bytes.size()) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
      if (!WriteFile(output_, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
        // The driver is gone; the reading side sees the end of input too.
        write_failed_ = true;
        return;
      }
      done += written;
    }
  }

 private:
  void ReadLoop() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    FrameReader reader;
    std::vector<uint8_t> buffer(64 * 1024);
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(input, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) ||
          got == 0) {
        break;
      }
      reader.Append(buffer.data(), got);
      Frame frame;
      std::string error;
      FrameReader::Status status;
      bool malformed = false;
      while ((status = reader.Next(&frame, &error)) == FrameReader::Status::kFrame) {
        std::lock_guard<std::mutex> lock(mutex_);
        incoming_.push_back(std::move(frame));
        if (target_) PostMessageW(target_, kDeliverFrames, 0, 0);
      }
      if (status == FrameReader::Status::kMalformed) {
        std::fprintf(stderr, "headless engine: malformed input from the driver: %s\n",
                     error.c_str());
        malformed = true;
      }
      if (malformed) break;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    if (target_) PostMessageW(target_, kDriverGone, 0, 0);
  }

  std::once_flag started_;
  bool enabled_ = false;
  HANDLE output_ = nullptr;
  std::mutex mutex_;
  std::deque<Frame> incoming_;
  HWND target_ = nullptr;
  bool ended_ = false;
  std::mutex write_mutex_;
  bool write_failed_ = false;
};

// A native message from another thread is a fault the real engine reports too;
// the frame still goes out, so the driver sees what was sent.
void CheckPlatformThread(const FlutterDesktopEngine* engine, const char* what) {
  if (engine->platform_thread != 0 && GetCurrentThreadId() != engine->platform_thread) {
    std::fprintf(stderr, "headless engine: %s sent off the platform thread\n", what);
  }
}

void DeliverFrame(FlutterDesktopEngine* engine, Frame& frame) {
  if (frame.kind == FrameKind::kResponse) {
    std::pair<FlutterDesktopBinaryReply, void*> reply{nullptr, nullptr};
    {
      std::lock_guard<std::mutex> lock(engine->replies_mutex);
      auto it = engine->pending_replies.find(frame.id);
      if (it == engine->pending_replies.end()) {
        std::fprintf(stderr, "headless engine: response to unknown message id %u\n",
                     static_cast<unsigned>(frame.id));
        return;
      }
      reply = it->second;
      engine->pending_replies.erase(it);
    }
    reply.first(frame.payload.empty() ? nullptr : frame.payload.data(), frame.payload.size(),
                reply.second);
    return;
  }
  const bool wants_response = frame.kind == FrameKind::kMessageWithReply;
  auto it = engine->callbacks.find(frame.channel);
  if (it == engine->callbacks.end()) {
    // Nobody listens on the channel: answer empty, as the engine does.
    if (wants_response) DriverLink::Get().Write(Frame{FrameKind::kResponse, frame.id, "", {}});
    return;
  }
  auto* handle = new _FlutterPlatformMessageResponseHandle{frame.id, wants_response};
  FlutterDesktopMessage message;
  message.struct_size = sizeof(message);
  message.channel = frame.channel.c_str();
  message.message = frame.payload.empty() ? nullptr : frame.payload.data();
  message.message_size = frame.payload.size();
  message.response_handle = handle;
  it->second.first(engine->messenger, &message, it->second.second);
}

LRESULT CALLBACK ViewProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* engine = reinterpret_cast<FlutterDesktopEngine*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case kDeliverFrames:
      if (engine) {
        std::deque<Frame> frames = DriverLink::Get().TakeFrames();
        for (Frame& frame : frames) DeliverFrame(engine, frame);
      }
      return 0;
    case kDriverGone: {
      HWND root = GetAncestor(window, GA_ROOT);
      if (root && root != window) {
        PostMessageW(root, WM_CLOSE, 0, 0);
      } else {
        PostQuitMessage(0);
      }
      return 0;
    }
    case kNextFrame:
      if (engine && engine->next_frame) {
        VoidCallback callback = engine->next_frame;
        void* data = engine->next_frame_data;
        engine->next_frame = nullptr;
        engine->next_frame_data = nullptr;
        callback(data);
      }
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
      EndPaint(window, &paint);
      return 0;
    }
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

bool RegisterViewClass() {
  static const bool registered = [] {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = ViewProc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.lpszClassName = kViewClassName;
    return RegisterClassExW(&window_class) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

}  // namespace

// ========== Engine ==========

FlutterDesktopEngineRef FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties* engine_properties) {
  if (!engine_properties || !engine_properties->assets_path || !engine_properties->icu_data_path) {
    std::fprintf(stderr, "headless engine: assets and ICU data paths are required\n");
    return nullptr;
  }
  auto* engine = new FlutterDesktopEngine();
  for (int i = 0; i < engine_properties->dart_entrypoint_argc; ++i) {
    const char* argument = engine_properties->dart_entrypoint_argv[i];
    engine->entrypoint_arguments.emplace_back(argument ? argument : "");
  }
  engine->messenger = new FlutterDesktopMessenger();
  engine->messenger->engine = engine;
  DriverLink::Get().Start();
  return engine;
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine) {
  if (!engine) return true;
  if (engine->view) {
    DriverLink::Get().SetTarget(nullptr);
    SetWindowLongPtrW(engine->view, GWLP_USERDATA, 0);
  }
  {
    // Replies still in flight on other threads see the engine as gone.
    std::lock_guard<std::recursive_mutex> lock(engine->messenger->mutex);
    engine->messenger->engine = nullptr;
  }
  FlutterDesktopMessengerRelease(engine->messenger);
  delete engine;
  return true;
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine) {}

FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(
    FlutterDesktopEngineRef engine, const char* plugin_name) {
  if (!engine || !plugin_name) return nullptr;
  auto& registrar = engine->registrars[plugin_name];
  if (!registrar) {
    registrar = std::make_unique<FlutterDesktopPluginRegistrar>();
    registrar->engine = engine;
  }
  return registrar.get();
}

FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine) {
  return engine ? engine->messenger : nullptr;
}

void FlutterDesktopEngineSetNextFrameCallback(FlutterDesktopEngineRef engine, VoidCallback callback,
                                              void* user_data) {
  if (!engine) return;
  engine->next_frame = callback;
  engine->next_frame_data = user_data;
  // A frame is "drawn" as soon as the view exists.
  if (engine->view) PostMessageW(engine->view, kNextFrame, 0, 0);
}

// ========== View Controller ==========

FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(int width, int height,
                                                                   FlutterDesktopEngineRef engine) {
  if (!engine) return nullptr;
  if (!RegisterViewClass()) {
    FlutterDesktopEngineDestroy(engine);
    return nullptr;
  }
  // Message-only until the host makes it its child content.
  HWND view = CreateWindowExW(0, kViewClassName, L"", WS_CHILD | WS_VISIBLE, 0, 0, width, height,
                              HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!view) {
    FlutterDesktopEngineDestroy(engine);
    return nullptr;
  }
  SetWindowLongPtrW(view, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(engine));
  engine->view = view;
  engine->platform_thread = GetCurrentThreadId();
  auto* controller = new FlutterDesktopViewControllerState();
  controller->engine = engine;
  controller->view.hwnd = view;
  DriverLink::Get().SetTarget(view);
  if (engine->next_frame) PostMessageW(view, kNextFrame, 0, 0);
  return controller;
}

void FlutterDesktopViewControllerDestroy(FlutterDesktopViewControllerRef controller) {
  if (!controller) return;
  HWND view = controller->view.hwnd;
  FlutterDesktopEngineDestroy(controller->engine);
  if (view && IsWindow(view)) DestroyWindow(view);
  delete controller;
}

FlutterDesktopViewRef FlutterDesktopViewControllerGetView(
    FlutterDesktopViewControllerRef controller) {
  return controller ? &controller->view : nullptr;
}

void FlutterDesktopViewControllerForceRedraw(FlutterDesktopViewControllerRef controller) {
  if (controller && controller->view.hwnd) {
    PostMessageW(controller->view.hwnd, kNextFrame, 0, 0);
  }
}

bool FlutterDesktopViewControllerHandleTopLevelWindowProc(FlutterDesktopViewControllerRef, HWND,
                                                          UINT, WPARAM, LPARAM, LRESULT*) {
  // No plug-in of the stand-in takes top-level window messages.
  return false;
}

// ========== View ==========

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view) { return view ? view->hwnd : nullptr; }

// ========== Freestanding Utilities ==========

UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor) {
  using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  if (HMODULE shcore = LoadLibraryA("Shcore.dll")) {
    auto get_dpi = reinterpret_cast<GetDpiForMonitorFn>(
        reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")));
    UINT dpi_x = 0;
    UINT dpi_y = 0;
    // 0: MDT_EFFECTIVE_DPI.
    const bool ok = get_dpi && SUCCEEDED(get_dpi(monitor, 0, &dpi_x, &dpi_y)) && dpi_x != 0;
    FreeLibrary(shcore);
    if (ok) return dpi_x;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

void FlutterDesktopResyncOutputStreams() {
  FILE* unused = nullptr;
  // Standard output carries the driver's frames; only stderr follows a console.
  if (!DriverLink::Get().enabled()) {
    if (freopen_s(&unused, "CONOUT$", "w", stdout)) _dup2(_fileno(stdout), 1);
  }
  if (freopen_s(&unused, "CONOUT$", "w", stderr)) _dup2(_fileno(stdout), 2);
}

// ========== Messenger ==========

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger, const char* channel,
                                 const uint8_t* message, const size_t message_size) {
  return FlutterDesktopMessengerSendWithReply(messenger, channel, message, message_size, nullptr,
                                              nullptr);
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger, const char* channel,
                                          const uint8_t* message, const size_t message_size,
                                          const FlutterDesktopBinaryReply reply, void* user_data) {
  if (!messenger || !channel) return false;
  std::lock_guard<std::recursive_mutex> lock(messenger->mutex);
  FlutterDesktopEngine* engine = messenger->engine;
  if (!engine) return false;
  CheckPlatformThread(engine, "message");
  Frame frame;
  frame.kind = FrameKind::kMessage;
  frame.channel = channel;
  if (message && message_size) frame.payload.assign(message, message + message_size);
  if (reply) {
    std::lock_guard<std::mutex> replies(engine->replies_mutex);
    frame.kind = FrameKind::kMessageWithReply;
    frame.id = engine->next_reply_id++;
    if (engine->next_reply_id == 0) engine->next_reply_id = 1;
    engine->pending_replies[frame.id] = {reply, user_data};
  }
  DriverLink::Get().Write(frame);
  return true;
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef messenger,
                                         const FlutterDesktopMessageResponseHandle* handle,
                                         const uint8_t* data, size_t data_length) {
  if (!handle) return;
  std::unique_ptr<const FlutterDesktopMessageResponseHandle> owned(handle);
  if (!messenger || !handle->wants_response) return;
  std::lock_guard<std::recursive_mutex> lock(messenger->mutex);
  if (!messenger->engine) return;
  CheckPlatformThread(messenger->engine, "response");
  Frame frame;
  frame.kind = FrameKind::kResponse;
  frame.id = handle->id;
  if (data && data_length) frame.payload.assign(data, data + data_length);
  DriverLink::Get().Write(frame);
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  if (!messenger || !channel) return;
  std::lock_guard<std::recursive_mutex> lock(messenger->mutex);
  FlutterDesktopEngine* engine = messenger->engine;
  if (!engine) return;
  if (callback) {
    engine->callbacks[channel] = {callback, user_data};
  } else {
    engine->callbacks.erase(channel);
  }
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger) {
  if (messenger) messenger->references.fetch_add(1);
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  if (messenger && messenger->references.fetch_sub(1) == 1) delete messenger;
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  return messenger && messenger->engine != nullptr;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger) {
  if (messenger) messenger->mutex.lock();
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  if (messenger) messenger->mutex.unlock();
}
