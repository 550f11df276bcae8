#include <windows.h>

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <utility>

#include "bridge/key_block.h"
#include "common/completion_latch.h"
#include "common/scoped_win.h"

namespace vek_native {
namespace {

// How long a start waits for the hook thread to report its install attempt.
constexpr DWORD kReadyWaitMs = 5000;

// Process-wide state; start, stop and teardown hold the mutex throughout.
std::mutex g_mutex;
std::atomic<bool> g_running{false};
std::atomic<DWORD> g_hook_thread_id{0};
std::atomic<HHOOK> g_hook{nullptr};
ScopedHandle g_ready_event;
ThreadStarter g_start_thread = StartDetachedThread;
// Signalled when the hook thread has ended; null when there is none to wait
// for (the join of a thread nobody else joins).
std::shared_ptr<CompletionLatch> g_thread_ended;

LRESULT CALLBACK SwallowKeys(int code, WPARAM wparam, LPARAM lparam) {
  // Returning non-zero discards the event before any window sees it.
  if (code == HC_ACTION) return 1;
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

void HookThread(HANDLE ready_event) {
  g_hook_thread_id = GetCurrentThreadId();
  // Create this thread's message queue before the hook exists and before
  // anyone posts WM_QUIT to it.
  MSG msg;
  PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  HHOOK hook = SetWindowsHookExW(WH_KEYBOARD_LL, SwallowKeys, GetModuleHandleW(nullptr), 0);
  g_hook = hook;
  SetEvent(ready_event);
  if (hook == nullptr) return;
  // A low-level hook is called through this thread's message loop.
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  UnhookWindowsHookEx(hook);
  g_hook = nullptr;
}

void JoinHookThread() {
  if (!g_thread_ended) return;
  g_thread_ended->Wait();
  g_thread_ended.reset();
}

// Ends a hook thread that has reported its install attempt, then joins it.
void EndHookThread() {
  const DWORD thread_id = g_hook_thread_id.load();
  if (thread_id != 0) PostThreadMessageW(thread_id, WM_QUIT, 0, 0);
  JoinHookThread();
}

}  // namespace

bool StartKeyBlock() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_running && g_hook.load() != nullptr) return true;
  JoinHookThread();
  if (!g_ready_event.IsValid()) {
    g_ready_event.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!g_ready_event.IsValid()) return false;
  }
  ResetEvent(g_ready_event.Get());
  g_hook_thread_id = 0;
  g_running = true;
  auto ended = std::make_shared<CompletionLatch>();
  try {
    g_start_thread([ready = g_ready_event.Get(), ended] {
      HookThread(ready);
      ended->Signal();
    });
  } catch (const std::exception&) {
    // No thread, no hook: the state is as if the block had never started,
    // and the caller answers the start failure.
    g_running = false;
    return false;
  }
  g_thread_ended = std::move(ended);
  if (WaitForSingleObject(g_ready_event.Get(), kReadyWaitMs) == WAIT_OBJECT_0 &&
      g_hook.load() != nullptr) {
    return true;
  }
  g_running = false;
  // A thread that reports late may still install the hook and enter its
  // loop; wait for its report so WM_QUIT finds it, or the join would never
  // return and the keyboard would stay blocked.
  WaitForSingleObject(g_ready_event.Get(), INFINITE);
  EndHookThread();
  g_hook_thread_id = 0;
  return false;
}

void StopKeyBlock() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_running) {
    JoinHookThread();
    return;
  }
  g_running = false;
  EndHookThread();
  g_hook_thread_id = 0;
  HHOOK hook = g_hook.exchange(nullptr);
  if (hook != nullptr) UnhookWindowsHookEx(hook);
  g_ready_event.Reset();
}

bool KeyBlockActive() { return g_hook.load() != nullptr; }

void SetKeyBlockThreadStarter(ThreadStarter start_thread) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_start_thread = start_thread ? std::move(start_thread) : ThreadStarter(StartDetachedThread);
}

}  // namespace vek_native
