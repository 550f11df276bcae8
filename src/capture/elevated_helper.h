// Running a privileged task in an elevated second instance of the program.
//
// The user-interface process makes a result location in the temporary
// directory, starts itself with a helper-mode switch through the "runas" verb
// (or, when it is already elevated, runs the task in process), waits for it
// with a limit and hands the exit code back; the caller then reads the result
// location. Each mode describes itself with a HelperLaunchValues.
#ifndef VEK_CAPTURE_ELEVATED_HELPER_H_
#define VEK_CAPTURE_ELEVATED_HELPER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/file_system.h"

namespace vek_native {

// The platform operations of a launch. Windows: OpenProcessToken and
// GetTokenInformation, GetModuleFileNameW, CoInitializeEx, ShellExecuteExW,
// WaitForSingleObject, TerminateProcess, GetExitCodeProcess, CloseHandle.
class ProcessLauncher {
 public:
  using ProcessHandle = void*;

  enum class WaitResult { kSignalled, kTimedOut, kFailed };
  enum class ComInit { kInitialised, kAlreadyInitialised, kFailed };

  virtual ~ProcessLauncher() = default;

  virtual bool IsProcessElevated() = 0;
  virtual uint32_t CurrentProcessId() = 0;
  virtual uint64_t TickCount64() = 0;
  // Full path of the running executable.
  virtual bool GetOwnPath(std::string* path, uint32_t* error) = 0;
  // Apartment-threaded COM for the calling thread.
  virtual ComInit InitializeCom() = 0;
  virtual void UninitializeCom() = 0;
  // Starts `file` with `parameters` through the "runas" verb, hidden. On
  // success *process may still be null when the shell gave no handle back.
  virtual bool StartElevated(const std::string& file, const std::string& parameters,
                             ProcessHandle* process, uint32_t* error) = 0;
  virtual WaitResult Wait(ProcessHandle process, uint32_t limit_ms) = 0;
  virtual void Terminate(ProcessHandle process, uint32_t exit_code) = 0;
  virtual bool GetExitCode(ProcessHandle process, uint32_t* exit_code, uint32_t* error) = 0;
  virtual void Close(ProcessHandle process) = 0;
};

// One argument after the helper-mode switch: a text, always quoted, or a
// plain signed decimal number.
struct HelperParameter {
  enum class Kind { kText, kNumber };
  static HelperParameter Text(std::string text);
  static HelperParameter Number(int64_t number);

  Kind kind = Kind::kText;
  std::string text;
  int64_t number = 0;
};

// A message with a Windows error or exit code in it: before + code + after.
struct CodedMessage {
  std::string before;
  std::string after;
  std::string Format(uint32_t code) const;
};

enum class ResultLocationKind { kFile, kDirectory };

// Which wait results mean the helper ran too long and is terminated.
enum class HelperWaitEnding {
  kTimeoutOnly,  // a failed wait goes on to read the exit code
  kAnyButSignalled,
};

// Everything one helper mode supplies to the launch.
struct HelperLaunchValues {
  // The switch and the parameters after it; the result location is appended
  // as the last text parameter.
  std::string helper_switch;
  std::vector<HelperParameter> parameters;

  // Result location: temporary directory + prefix + pid + "_" + tick, plus
  // ".txt" for a file. A file location starts with its leftovers deleted
  // (the file and each companion, named location + suffix); a directory
  // location is created, and removed with the listed files inside it.
  std::string result_prefix;
  ResultLocationKind result_kind = ResultLocationKind::kFile;
  std::vector<std::string> companion_suffixes;
  std::vector<std::string> directory_files;

  bool initialise_com = false;

  CodedMessage temp_directory_failure;
  CodedMessage create_directory_failure;  // other than "already exists"
  CodedMessage own_path_failure;
  std::string declined_message;  // the user declined the elevation prompt
  CodedMessage start_failure;
  std::string no_handle_message;  // empty: kDefaultNoHandleMessage
  std::string timeout_message;
  CodedMessage exit_code_failure;

  uint32_t wait_limit_ms = 0;
  HelperWaitEnding wait_ending = HelperWaitEnding::kAnyButSignalled;
  // Whether a helper terminated on time-out has its result location removed.
  bool remove_result_on_timeout = true;

  // The helper operation, run in this process when it is already elevated;
  // gets the result location and returns the exit code.
  std::function<uint32_t(const std::string& result_location)> run_in_process;
};

// What a launch gives back. The result location is set as soon as it is made,
// so the caller can read it after success.
struct HelperRunResult {
  std::string result_location;
  uint32_t exit_code = 0;
  bool ran_in_process = false;
  bool cancelled = false;
  std::string message;
};

inline constexpr char kDefaultNoHandleMessage[] = "无法获取管理员进程句柄";
// A NUL would silently cut the command line of the elevated process.
inline constexpr char kParameterHasNulMessage[] = "参数含有空字符，无法传给管理员进程";

// The launch and wait. True with the exit code (of the helper or of the
// in-process operation) and the result location; false with a message, and
// the cancelled flag when the user declined the elevation prompt. On every
// failure the result location is removed again, except after a time-out when
// the mode keeps it.
bool LaunchElevatedHelper(ProcessLauncher& launcher, FileSystem& fs,
                          const HelperLaunchValues& values, HelperRunResult* result);

// Deletes the result location the mode's way: a file and its companions, or
// a directory's listed files and then the directory. Missing files are fine.
void RemoveResultLocation(FileSystem& fs, const HelperLaunchValues& values,
                          const std::string& location);

// One command-line argument quoted so that CommandLineToArgvW gives back
// exactly `text`: wrapped in double quotes, every quote escaped, and the
// backslashes before a quote or before the closing quote doubled.
std::string QuoteCommandLineArgument(std::string_view text);

// switch, then each parameter, separated by one blank. False when a text
// parameter holds a NUL.
bool BuildHelperParameterText(const std::string& helper_switch,
                              const std::vector<HelperParameter>& parameters, std::string* text);

// Whether a helper may write its result to `path`: the last component must
// start with the mode's prefix (and hold more than it) and sit directly in the
// temporary directory. Relative paths, subfolders, "..", streams
// (":") and characters Windows refuses in names are not accepted.
bool IsResultLocationFor(std::string_view path, std::string_view temp_directory,
                         std::string_view prefix);
// The same against this process's temporary directory, with a message.
bool IsResultLocationFor(FileSystem& fs, const std::string& path, std::string_view prefix,
                         std::string* message = nullptr);

// The value of `key` in key=value lines: the first line whose text before its
// first "=" equals the key once blanks, tabs, CR and LF around it are removed;
// the value is everything after that "=", untrimmed. No match gives "".
std::string MetaValue(std::string_view text, std::string_view key);

#ifdef _WIN32
// Token query, GetModuleFileNameW, COM, ShellExecuteExW "runas" and the
// process handle calls. Tests derive from it to inject the elevation answer.
class WinProcessLauncher : public ProcessLauncher {
 public:
  bool IsProcessElevated() override;
  uint32_t CurrentProcessId() override;
  uint64_t TickCount64() override;
  bool GetOwnPath(std::string* path, uint32_t* error) override;
  ComInit InitializeCom() override;
  void UninitializeCom() override;
  bool StartElevated(const std::string& file, const std::string& parameters, ProcessHandle* process,
                     uint32_t* error) override;
  WaitResult Wait(ProcessHandle process, uint32_t limit_ms) override;
  void Terminate(ProcessHandle process, uint32_t exit_code) override;
  bool GetExitCode(ProcessHandle process, uint32_t* exit_code, uint32_t* error) override;
  void Close(ProcessHandle process) override;
};

// The process-wide Windows launcher.
ProcessLauncher& SystemProcessLauncher();

bool IsProcessElevated();
// GetTempPathW; ends in a backslash.
bool GetTempDirectory(std::string* directory, uint32_t* error);
#endif

}  // namespace vek_native

#endif  // VEK_CAPTURE_ELEVATED_HELPER_H_
