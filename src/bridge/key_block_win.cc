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

// Start, stop and teardown hold the mutex throughout.
struct KeyBlock::State {
  explicit State(ThreadStarter starter) : start_thread(std::move(starter)) {}

  std::mutex mutex;
  std::atomic<bool> running{false};
  std::atomic<DWORD> hook_thread_id{0};
  std::atomic<HHOOK> hook{nullptr};
  ScopedHandle ready_event;
  const ThreadStarter start_thread;
  // Signalled when the hook thread has ended; null when there is none to wait
  // for (the join of a thread nobody else joins).
  std::shared_ptr<CompletionLatch> thread_ended;
};

namespace {

// How long a start waits for the hook thread to report its install attempt.
constexpr DWORD kReadyWaitMs = 5000;

LRESULT CALLBACK SwallowKeys(int code, WPARAM wparam, LPARAM lparam) {
  // Returning non-zero discards the event before any window sees it.
  if (code == HC_ACTION) return 1;
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

void HookThread(KeyBlock::State& s, HANDLE ready_event) {
  s.hook_thread_id = GetCurrentThreadId();
  // Create this thread's message queue before the hook exists and before
  // anyone posts WM_QUIT to it.
  MSG msg;
  PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  HHOOK hook = SetWindowsHookExW(WH_KEYBOARD_LL, SwallowKeys, GetModuleHandleW(nullptr), 0);
  s.hook = hook;
  SetEvent(ready_event);
  if (hook == nullptr) return;
  // A low-level hook is called through this thread's message loop.
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  UnhookWindowsHookEx(hook);
  s.hook = nullptr;
}

void JoinHookThread(KeyBlock::State& s) {
  if (!s.thread_ended) return;
  s.thread_ended->Wait();
  s.thread_ended.reset();
}

// Ends a hook thread that has reported its install attempt, then joins it.
void EndHookThread(KeyBlock::State& s) {
  const DWORD thread_id = s.hook_thread_id.load();
  if (thread_id != 0) PostThreadMessageW(thread_id, WM_QUIT, 0, 0);
  JoinHookThread(s);
}

// The process's block. Never destroyed: at exit its hook thread may already
// be gone without having signalled, and a stop would wait for it forever.
KeyBlock& ProcessKeyBlock() {
  static KeyBlock* const block = new KeyBlock();
  return *block;
}

}  // namespace

KeyBlock::KeyBlock(ThreadStarter start_thread)
    : state_(std::make_unique<State>(std::move(start_thread))) {}

// A failed start keeps its event for the next one; the state closes it.
KeyBlock::~KeyBlock() { Stop(); }

bool KeyBlock::Start() {
  State& s = *state_;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.running && s.hook.load() != nullptr) return true;
  JoinHookThread(s);
  if (!s.ready_event.IsValid()) {
    s.ready_event.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!s.ready_event.IsValid()) return false;
  }
  ResetEvent(s.ready_event.Get());
  s.hook_thread_id = 0;
  s.running = true;
  auto ended = std::make_shared<CompletionLatch>();
  try {
    s.start_thread([&s, ready = s.ready_event.Get(), ended] {
      HookThread(s, ready);
      ended->Signal();
    });
  } catch (const std::exception&) {
    // No thread, no hook: the state is as if the block had never started,
    // and the caller answers the start failure.
    s.running = false;
    return false;
  }
  s.thread_ended = std::move(ended);
  if (WaitForSingleObject(s.ready_event.Get(), kReadyWaitMs) == WAIT_OBJECT_0 &&
      s.hook.load() != nullptr) {
    return true;
  }
  s.running = false;
  // A thread that reports late may still install the hook and enter its
  // loop; wait for its report so WM_QUIT finds it, or the join would never
  // return and the keyboard would stay blocked.
  WaitForSingleObject(s.ready_event.Get(), INFINITE);
  EndHookThread(s);
  s.hook_thread_id = 0;
  return false;
}

void KeyBlock::Stop() {
  State& s = *state_;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.running) {
    JoinHookThread(s);
    return;
  }
  s.running = false;
  EndHookThread(s);
  s.hook_thread_id = 0;
  HHOOK hook = s.hook.exchange(nullptr);
  if (hook != nullptr) UnhookWindowsHookEx(hook);
  s.ready_event.Reset();
}

bool KeyBlock::Active() const { return state_->hook.load() != nullptr; }

bool StartKeyBlock() { return ProcessKeyBlock().Start(); }

void StopKeyBlock() { ProcessKeyBlock().Stop(); }

bool KeyBlockActive() { return ProcessKeyBlock().Active(); }

}  // namespace vek_native
