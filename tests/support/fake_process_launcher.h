// A ProcessLauncher whose machine and user are described by its fields: not
// elevated, a user who declines the prompt, a shell that gives no handle, a
// helper that never ends... Every call is logged in order.
#ifndef VEK_TESTS_SUPPORT_FAKE_PROCESS_LAUNCHER_H_
#define VEK_TESTS_SUPPORT_FAKE_PROCESS_LAUNCHER_H_

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "capture/elevated_helper.h"

namespace vek_native {

class FakeProcessLauncher : public ProcessLauncher {
 public:
  bool elevated = false;
  uint32_t process_id = 4242;
  // Ticks move on between launches, as time does, so that the process-wide
  // unique-tick rule hands out exactly the tick read.
  uint64_t last_tick = 0;
  // A tick chosen by the test, to know a location before the launch; must
  // be larger than any tick used before in the process.
  std::optional<uint64_t> fixed_tick;
  std::string own_path = "C:\\Program Files\\vek\\vek_tool.exe";
  uint32_t own_path_error = 0;  // non-zero: no own path
  ComInit com_init = ComInit::kInitialised;
  uint32_t start_error = 0;  // non-zero: ShellExecuteExW fails with it
  bool gives_handle = true;
  std::deque<WaitResult> wait_results = {WaitResult::kSignalled};  // then kSignalled
  uint32_t exit_code = 0;
  uint32_t exit_code_error = 0;  // non-zero: GetExitCodeProcess fails
  // The "helper" itself: runs at start with the parameter text.
  std::function<void(const std::string& parameters)> on_start;

  std::vector<std::string> calls;
  std::string started_file;
  std::string started_parameters;
  std::vector<uint32_t> wait_limits;
  int open_handles = 0;

  bool IsProcessElevated() override {
    calls.push_back("IsProcessElevated");
    return elevated;
  }
  uint32_t CurrentProcessId() override { return process_id; }
  uint64_t TickCount64() override {
    static uint64_t clock = 1000000;
    clock += 1000;
    if (fixed_tick) clock = *fixed_tick;
    last_tick = clock;
    return clock;
  }
  bool GetOwnPath(std::string* path, uint32_t* error) override {
    calls.push_back("GetOwnPath");
    if (own_path_error != 0) {
      *error = own_path_error;
      return false;
    }
    *path = own_path;
    return true;
  }
  ComInit InitializeCom() override {
    calls.push_back("InitializeCom");
    return com_init;
  }
  void UninitializeCom() override { calls.push_back("UninitializeCom"); }
  bool StartElevated(const std::string& file, const std::string& parameters, ProcessHandle* process,
                     uint32_t* error) override {
    calls.push_back("StartElevated");
    started_file = file;
    started_parameters = parameters;
    if (start_error != 0) {
      *error = start_error;
      return false;
    }
    if (on_start) on_start(parameters);
    *process = gives_handle ? &handle_ : nullptr;
    if (gives_handle) ++open_handles;
    return true;
  }
  WaitResult Wait(ProcessHandle process, uint32_t limit_ms) override {
    calls.push_back("Wait");
    wait_limits.push_back(limit_ms);
    if (process != &handle_) return WaitResult::kFailed;
    if (wait_results.empty()) return WaitResult::kSignalled;
    const WaitResult r = wait_results.front();
    wait_results.pop_front();
    return r;
  }
  void Terminate(ProcessHandle process, uint32_t code) override {
    calls.push_back("Terminate " + std::to_string(code));
    terminated_with = code;
  }
  bool GetExitCode(ProcessHandle process, uint32_t* code, uint32_t* error) override {
    calls.push_back("GetExitCode");
    if (exit_code_error != 0) {
      *error = exit_code_error;
      return false;
    }
    *code = terminated_with.value_or(exit_code);
    return true;
  }
  void Close(ProcessHandle process) override {
    calls.push_back("Close");
    if (process == &handle_) --open_handles;
  }

  std::optional<uint32_t> terminated_with;

 private:
  int handle_ = 0;
};

}  // namespace vek_native

#endif  // VEK_TESTS_SUPPORT_FAKE_PROCESS_LAUNCHER_H_
