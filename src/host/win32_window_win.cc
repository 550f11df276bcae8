#include "host/win32_window_win.h"

#include <dwmapi.h>

#include "flutter_windows.h"
#include "host/window_metrics.h"

namespace vek_native {
namespace {

// Missing from MinGW-w64's dwmapi.h.
constexpr DWORD kDwmwaUseImmersiveDarkMode = 20;
constexpr int kAppIconResource = 101;
constexpr wchar_t kWindowClassName[] = L"FLUTTER_RUNNER_WIN32_WINDOW";
constexpr wchar_t kThemeKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr wchar_t kThemeValue[] = L"AppsUseLightTheme";

// Live Win32Window objects; the class is unregistered when the last one's
// window is destroyed.
int g_active_window_count = 0;

using EnableNonClientDpiScalingFn = BOOL(WINAPI*)(HWND);

// Scales the non-client area (title bar, borders) on systems that can.
void EnableFullDpiSupportIfAvailable(HWND window) {
  HMODULE user32 = LoadLibraryA("User32.dll");
  if (!user32) return;
  auto enable = reinterpret_cast<EnableNonClientDpiScalingFn>(
      reinterpret_cast<void*>(GetProcAddress(user32, "EnableNonClientDpiScaling")));
  if (enable) enable(window);
  FreeLibrary(user32);
}

}  // namespace

class WindowClassRegistrar {
 public:
  static WindowClassRegistrar* GetInstance() {
    static WindowClassRegistrar instance;
    return &instance;
  }

  const wchar_t* GetWindowClass() {
    if (!registered_) {
      WNDCLASSW window_class{};
      window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
      window_class.lpszClassName = kWindowClassName;
      window_class.style = CS_HREDRAW | CS_VREDRAW;
      window_class.hInstance = GetModuleHandleW(nullptr);
      window_class.hIcon = LoadIconW(window_class.hInstance, MAKEINTRESOURCEW(kAppIconResource));
      window_class.hbrBackground = nullptr;
      window_class.lpfnWndProc = Win32Window::WndProc;
      registered_ = RegisterClassW(&window_class) != 0;
    }
    return kWindowClassName;
  }

  void UnregisterWindowClass() {
    UnregisterClassW(kWindowClassName, nullptr);
    registered_ = false;
  }

 private:
  bool registered_ = false;
};

Win32Window::Win32Window() { ++g_active_window_count; }

Win32Window::~Win32Window() {
  --g_active_window_count;
  Destroy();
}

bool Win32Window::Create(const std::wstring& title, const Point& origin, const Size& size) {
  Destroy();
  const wchar_t* window_class = WindowClassRegistrar::GetInstance()->GetWindowClass();

  const POINT target_point = {static_cast<LONG>(origin.x), static_cast<LONG>(origin.y)};
  HMONITOR monitor = MonitorFromPoint(target_point, MONITOR_DEFAULTTONEAREST);
  const PhysicalRect rect = ScaleToMonitor(
      static_cast<int>(origin.x), static_cast<int>(origin.y), static_cast<int>(size.width),
      static_cast<int>(size.height), FlutterDesktopGetDpiForMonitor(monitor));

  HWND window =
      CreateWindowExW(0, window_class, title.c_str(), WS_OVERLAPPEDWINDOW, rect.x, rect.y,
                      rect.width, rect.height, nullptr, nullptr, GetModuleHandleW(nullptr), this);
  if (!window) return false;
  UpdateTheme(window);
  return OnCreate();
}

bool Win32Window::Show() { return ShowWindow(window_handle_, SW_SHOWNORMAL); }

LRESULT CALLBACK Win32Window::WndProc(HWND window, UINT message, WPARAM wparam,
                                      LPARAM lparam) noexcept {
  if (message == WM_NCCREATE) {
    auto* create_struct = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(create_struct->lpCreateParams));
    EnableFullDpiSupportIfAvailable(window);
    static_cast<Win32Window*>(create_struct->lpCreateParams)->window_handle_ = window;
  } else if (Win32Window* that = GetThisFromHandle(window)) {
    return that->MessageHandler(window, message, wparam, lparam);
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT Win32Window::MessageHandler(HWND window, UINT message, WPARAM wparam,
                                    LPARAM lparam) noexcept {
  switch (message) {
    case WM_DESTROY:
      window_handle_ = nullptr;
      Destroy();
      if (quit_on_close_) PostQuitMessage(0);
      return 0;
    case WM_DPICHANGED: {
      auto* suggested = reinterpret_cast<RECT*>(lparam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_SIZE: {
      const RECT rect = GetClientArea();
      if (child_content_) {
        MoveWindow(child_content_, rect.left, rect.top, rect.right - rect.left,
                   rect.bottom - rect.top, TRUE);
      }
      return 0;
    }
    case WM_ACTIVATE:
      if (child_content_) SetFocus(child_content_);
      return 0;
    case WM_DWMCOLORIZATIONCOLORCHANGED:
      UpdateTheme(window);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

void Win32Window::Destroy() {
  OnDestroy();
  if (window_handle_) {
    DestroyWindow(window_handle_);
    window_handle_ = nullptr;
  }
  if (g_active_window_count == 0) WindowClassRegistrar::GetInstance()->UnregisterWindowClass();
}

Win32Window* Win32Window::GetThisFromHandle(HWND window) noexcept {
  return reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void Win32Window::SetChildContent(HWND content) {
  child_content_ = content;
  SetParent(content, window_handle_);
  const RECT frame = GetClientArea();
  MoveWindow(content, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top,
             TRUE);
  SetFocus(child_content_);
}

RECT Win32Window::GetClientArea() const {
  RECT frame{};
  GetClientRect(window_handle_, &frame);
  return frame;
}

bool Win32Window::OnCreate() { return true; }

void Win32Window::OnDestroy() {}

TitleBarTheme& ActiveTitleBarTheme() {
  static TitleBarTheme theme{
      [](DWORD* apps_use_light_theme) {
        DWORD size = sizeof(*apps_use_light_theme);
        return RegGetValueW(HKEY_CURRENT_USER, kThemeKey, kThemeValue, RRF_RT_REG_DWORD, nullptr,
                            apps_use_light_theme, &size) == ERROR_SUCCESS;
      },
      [](HWND window, BOOL dark) {
        DwmSetWindowAttribute(window, kDwmwaUseImmersiveDarkMode, &dark, sizeof(dark));
      }};
  return theme;
}

void UpdateTheme(HWND window) {
  TitleBarTheme& theme = ActiveTitleBarTheme();
  DWORD light_mode = 0;
  if (!theme.read || !theme.read(&light_mode)) return;
  if (theme.apply) theme.apply(window, WantsDarkTitleBar(light_mode) ? TRUE : FALSE);
}

}  // namespace vek_native
