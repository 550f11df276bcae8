#include <windows.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <utility>

#include "bridge/key_block.h"
#include "common/completion_latch.h"
#include "common/format.h"
#include "common/scoped_win.h"

namespace vek_native {

// What one hook thread shares with its starter. The thread holds it too, so a
// thread given up on by a bounded wait never touches freed state or a closed
// event.
struct KeyBlock::HookRun {
  std::atomic<DWORD> thread_id{0};
  std::atomic<HHOOK> hook{nullptr};
  // Set once the run is no longer wanted; a thread that installs its hook
  // after that removes it at once instead of entering its loop.
  std::atomic<bool> cancelled{false};
  ScopedHandle ready_event;  // manual reset: the install attempt is over
  CompletionLatch ended;     // the thread has let go of the hook
};

// Start, stop and teardown hold the mutex throughout.
struct KeyBlock::State {
  explicit State(ThreadStarter starter) : start_thread(std::move(starter)) {}

  std::mutex mutex;
  std::atomic<bool> running{false};
  const ThreadStarter start_thread;
  // The current hook thread's run; null when there is none to wait for.
  std::shared_ptr<HookRun> run;
};

namespace {

using HookRun = KeyBlock::HookRun;

LRESULT CALLBACK SwallowKeys(int code, WPARAM wparam, LPARAM lparam) {
  // Returning non-zero discards the event before any window sees it.
  if (code == HC_ACTION) return 1;
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

// Removes the run's hook unless someone already has: exactly one caller gets it.
void Unhook(HookRun& run) {
  HHOOK hook = run.hook.exchange(nullptr);
  if (hook != nullptr) UnhookWindowsHookEx(hook);
}

void HookThread(HookRun& run) {
  // Create this thread's message queue before the hook exists and before its
  // ID is published: whoever reads a non-zero ID can post WM_QUIT to it.
  MSG msg;
  PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  run.thread_id = GetCurrentThreadId();
  run.hook = SetWindowsHookExW(WH_KEYBOARD_LL, SwallowKeys, GetModuleHandleW(nullptr), 0);
  SetEvent(run.ready_event.Get());
  if (run.hook.load() == nullptr) return;
  // A canceller sets `cancelled` before it reads the ID: either it saw the ID
  // and its WM_QUIT is queued, or this read sees the flag.
  if (!run.cancelled.load()) {
    // A low-level hook is called through this thread's message loop.
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  Unhook(run);
}

// Ends the run's thread and waits for it at most kKeyBlockStopWaitMs; the hook
// is gone on return either way.
void EndRun(std::shared_ptr<HookRun>& slot) {
  if (!slot) return;
  HookRun& run = *slot;
  run.cancelled = true;
  const DWORD thread_id = run.thread_id.load();
  if (thread_id != 0) PostThreadMessageW(thread_id, WM_QUIT, 0, 0);
  run.ended.WaitFor(std::chrono::milliseconds(kKeyBlockStopWaitMs));
  // A thread stuck past the wait keeps running, but not with our hook.
  Unhook(run);
  slot.reset();
}

// The process's block. Never destroyed: at exit its hook thread may already
// be gone without having signalled.
KeyBlock& ProcessKeyBlock() {
  static KeyBlock* const block = new KeyBlock();
  return *block;
}

}  // namespace

KeyBlock::KeyBlock(ThreadStarter start_thread)
    : state_(std::make_unique<State>(std::move(start_thread))) {}

KeyBlock::~KeyBlock() { Stop(); }

bool KeyBlock::Start(std::string* message) {
  State& s = *state_;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.running && s.run && s.run->hook.load() != nullptr) return true;
  EndRun(s.run);  // an earlier thread, still ending
  auto run = std::make_shared<HookRun>();
  run->ready_event.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!run->ready_event.IsValid()) return false;
  try {
    s.start_thread([run] {
      HookThread(*run);
      run->ended.Signal();
    });
  } catch (const std::system_error& e) {
    // No thread, no hook: the block stays off, and the caller learns why.
    if (message) {
      *message = "启动键盘钩子线程失败" + ErrorCodeSuffix(static_cast<uint32_t>(e.code().value()));
    }
    return false;
  } catch (const std::exception&) {
    if (message) *message = "启动键盘钩子线程失败";
    return false;
  }
  s.run = run;
  s.running = true;
  if (WaitForSingleObject(run->ready_event.Get(), kKeyBlockReadyWaitMs) == WAIT_OBJECT_0 &&
      run->hook.load() != nullptr) {
    return true;
  }
  s.running = false;
  EndRun(s.run);
  return false;
}

void KeyBlock::Stop() {
  State& s = *state_;
  std::lock_guard<std::mutex> lock(s.mutex);
  s.running = false;
  EndRun(s.run);
}

bool KeyBlock::Active() const {
  State& s = *state_;
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.run && s.run->hook.load() != nullptr;
}

bool StartKeyBlock(std::string* message) { return ProcessKeyBlock().Start(message); }

void StopKeyBlock() { ProcessKeyBlock().Stop(); }

bool KeyBlockActive() { return ProcessKeyBlock().Active(); }

}  // namespace vek_native
