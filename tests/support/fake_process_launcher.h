// A ProcessLauncher whose machine and user are described by its fields: not
// elevated, a user who declines the prompt, a shell that gives no handle, a
// helper that never ends... The calls are logged in order.
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
  // Ticks move on between launches, as time does, so that the process-wide
  // unique-tick rule hands out exactly the tick read.
  uint64_t last_tick = 0;
  std::string own_path = "C:\\Program Files\\vek\\vek_tool.exe";
  ComInit com_init = ComInit::kInitialised;
  uint32_t start_error = 0;  // non-zero: ShellExecuteExW fails with it
  bool gives_handle = true;
  std::deque<WaitResult> wait_results = {WaitResult::kSignalled};  // then kSignalled
  uint32_t exit_code = 0;
  uint32_t exit_code_error = 0;  // non-zero: GetExitCodeProcess fails with it
  // The "helper" itself: runs at start with the parameter text.
  std::function<void(const std::string& parameters)> on_start;

  std::vector<std::string> calls;
  std::string started_file, started_parameters;
  std::vector<uint32_t> wait_limits;
  std::optional<uint32_t> terminated_with;
  int open_handles = 0;

  bool IsProcessElevated() override { return Log("IsProcessElevated", elevated); }
  uint32_t CurrentProcessId() override { return 4242; }
  uint64_t TickCount64() override {
    static uint64_t clock = 1000000;
    return last_tick = clock += 1000;
  }
  bool GetOwnPath(std::string* path, uint32_t* error) override {
    *path = own_path;
    *error = 5;  // "" fails
    return Log("GetOwnPath", !own_path.empty());
  }
  ComInit InitializeCom() override {
    Log("InitializeCom", true);
    return com_init;
  }
  void UninitializeCom() override { Log("UninitializeCom", true); }
  bool StartElevated(const std::string& file, const std::string& parameters, ProcessHandle* process,
                     uint32_t* error) override {
    started_file = file;
    started_parameters = parameters;
    *error = start_error;
    if (!Log("StartElevated", start_error == 0)) return false;
    if (on_start) on_start(parameters);
    *process = gives_handle ? &handle_ : nullptr;
    open_handles += gives_handle ? 1 : 0;
    return true;
  }
  WaitResult Wait(ProcessHandle process, uint32_t limit_ms) override {
    Log("Wait", true);
    wait_limits.push_back(limit_ms);
    const WaitResult r = wait_results.empty() ? WaitResult::kSignalled : wait_results.front();
    if (!wait_results.empty()) wait_results.pop_front();
    return process == &handle_ ? r : WaitResult::kFailed;
  }
  void Terminate(ProcessHandle, uint32_t code) override {
    terminated_with = code;
    Log("Terminate " + std::to_string(code), true);
  }
  bool GetExitCode(ProcessHandle, uint32_t* code, uint32_t* error) override {
    *code = terminated_with.value_or(exit_code);
    *error = exit_code_error;
    return Log("GetExitCode", exit_code_error == 0);
  }
  void Close(ProcessHandle process) override {
    open_handles -= process == &handle_ ? 1 : 0;
    Log("Close", true);
  }

 private:
  bool Log(const std::string& call, bool result) {
    calls.push_back(call);
    return result;
  }

  int handle_ = 0;
};

// The result location a launcher was given: the last quoted parameter.
inline std::string LastQuotedArgument(const std::string& parameters) {
  const size_t end = parameters.rfind('"');
  const size_t begin = parameters.rfind('"', end - 1);
  return parameters.substr(begin + 1, end - begin - 1);
}

}  // namespace vek_native

#endif  // VEK_TESTS_SUPPORT_FAKE_PROCESS_LAUNCHER_H_
