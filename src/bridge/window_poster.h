// How the bridge wakes the window thread: a message posted to the top-level
// window. Windows implements it with PostMessageW; tests use fakes.
#ifndef VEK_BRIDGE_WINDOW_POSTER_H_
#define VEK_BRIDGE_WINDOW_POSTER_H_

#include <cstdint>

#include "bridge/bridge_operations.h"

namespace vek_native {

// Events are waiting: the window thread calls DrainEvents (WM_APP + 0x51).
constexpr uint32_t kEventsReadyMessage = 32849;
// Job outcomes are waiting: the window thread calls DrainAsyncOutcomes
// (WM_APP + 0x52).
constexpr uint32_t kOutcomesReadyMessage = 32850;

class WindowPoster {
 public:
  virtual ~WindowPoster() = default;
  // Posts `message` with wParam and lParam 0; false when the system refused
  // it (no such window, or the thread's message queue is full).
  virtual bool Post(WindowHandle window, uint32_t message) = 0;
};

// The process's poster for real windows (PostMessageW); Windows builds only.
// Never destroyed, so worker threads still running at exit can use it.
WindowPoster& Win32WindowPoster();

}  // namespace vek_native

#endif  // VEK_BRIDGE_WINDOW_POSTER_H_
