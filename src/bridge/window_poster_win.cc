#include <windows.h>

#include "bridge/window_poster.h"

namespace vek_native {

namespace {

class PostMessagePoster : public WindowPoster {
 public:
  bool Post(WindowHandle window, uint32_t message) override {
    return PostMessageW(static_cast<HWND>(window), message, 0, 0) != FALSE;
  }
};

}  // namespace

WindowPoster& Win32WindowPoster() {
  // Leaked on purpose: detached workers may still post while the process's
  // static objects are being destroyed.
  static PostMessagePoster* poster = new PostMessagePoster();
  return *poster;
}

}  // namespace vek_native
