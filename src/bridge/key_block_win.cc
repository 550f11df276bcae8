#include <windows.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "bridge/key_block.h"

namespace vek_native {
namespace {

// How long a start waits for the hook thread to report its install attempt.
constexpr DWORD kReadyWaitMs = 5000;

// Process-wide state; start, stop and teardown hold the mutex throughout.
std::mutex g_mutex;
std::atomic<bool> g_running{false};
std::atomic<DWORD> g_hook_thread_id{0};
std::atomic<HHOOK> g_hook{nullptr};
HANDLE g_ready_event = nullptr;
std::thread g_thread;

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

// Ends a hook thread that has reported its install attempt, then joins it.
void EndHookThread() {
  const DWORD thread_id = g_hook_thread_id.load();
  if (thread_id != 0) PostThreadMessageW(thread_id, WM_QUIT, 0, 0);
  if (g_thread.joinable()) g_thread.join();
}

}  // namespace

bool StartKeyBlock() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_running && g_hook.load() != nullptr) return true;
  if (g_thread.joinable()) g_thread.join();
  if (g_ready_event == nullptr) {
    g_ready_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_ready_event == nullptr) return false;
  }
  ResetEvent(g_ready_event);
  g_hook_thread_id = 0;
  g_running = true;
  g_thread = std::thread(HookThread, g_ready_event);
  if (WaitForSingleObject(g_ready_event, kReadyWaitMs) == WAIT_OBJECT_0 &&
      g_hook.load() != nullptr) {
    return true;
  }
  g_running = false;
  // A thread that reports late may still install the hook and enter its
  // loop; wait for its report so WM_QUIT finds it, or the join would never
  // return and the keyboard would stay blocked.
  WaitForSingleObject(g_ready_event, INFINITE);
  EndHookThread();
  g_hook_thread_id = 0;
  return false;
}

void StopKeyBlock() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_running) {
    if (g_thread.joinable()) g_thread.join();
    return;
  }
  g_running = false;
  EndHookThread();
  g_hook_thread_id = 0;
  HHOOK hook = g_hook.exchange(nullptr);
  if (hook != nullptr) UnhookWindowsHookEx(hook);
  if (g_ready_event != nullptr) {
    CloseHandle(g_ready_event);
    g_ready_event = nullptr;
  }
}

bool KeyBlockActive() { return g_hook.load() != nullptr; }

}  // namespace vek_native
