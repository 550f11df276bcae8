// A top-level Win32 window with DPI scaling, a theme-following title bar and a
// single child content window; subclasses hook OnCreate, OnDestroy and
// MessageHandler.
#ifndef VEK_HOST_WIN32_WINDOW_WIN_H_
#define VEK_HOST_WIN32_WINDOW_WIN_H_

#include <windows.h>

#include <functional>
#include <string>
#include <type_traits>

namespace vek_native {

// Where the title bar's theme is read from and applied to: the registry and
// DWM in the program, a recording stand-in in tests.
struct TitleBarTheme {
  std::function<bool(DWORD* apps_use_light_theme)> read;
  std::function<void(HWND window, BOOL dark)> apply;
};
TitleBarTheme& ActiveTitleBarTheme();

// Reads "AppsUseLightTheme"; only when it was read is the title bar set dark
// (value 0) or light.
void UpdateTheme(HWND window);

class Win32Window {
 public:
  struct Point {
    unsigned int x;
    unsigned int y;
    Point(unsigned int x, unsigned int y) : x(x), y(y) {}
  };
  struct Size {
    unsigned int width;
    unsigned int height;
    Size(unsigned int width, unsigned int height) : width(width), height(height) {}
  };

  Win32Window();
  virtual ~Win32Window();
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Creates the (still invisible) window; origin and size in logical pixels,
  // scaled by the DPI of the monitor holding the origin.
  bool Create(const std::wstring& title, const Point& origin, const Size& size);
  bool Show();
  void Destroy();
  void SetChildContent(HWND content);
  HWND GetHandle() const { return window_handle_; }
  void SetQuitOnClose(bool quit_on_close) { quit_on_close_ = quit_on_close; }
  bool QuitsOnClose() const { return quit_on_close_; }
  RECT GetClientArea() const;

 protected:
  virtual LRESULT MessageHandler(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;
  virtual bool OnCreate();
  virtual void OnDestroy();

 private:
  friend class WindowClassRegistrar;

  static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;
  static Win32Window* GetThisFromHandle(HWND window) noexcept;

  bool quit_on_close_ = false;
  HWND window_handle_ = nullptr;
  HWND child_content_ = nullptr;
};
static_assert(!std::is_copy_constructible_v<Win32Window>, "owns its window");

}  // namespace vek_native

#endif  // VEK_HOST_WIN32_WINDOW_WIN_H_
