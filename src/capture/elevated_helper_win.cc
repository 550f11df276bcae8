#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include "capture/elevated_helper.h"
#include "common/scoped_win.h"
#include "common/text.h"

namespace vek_native {
namespace {

constexpr ULONG kShellExecuteMask =
    SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
static_assert(kShellExecuteMask == 0x540, "runas launch mask");
#ifdef _WIN64
static_assert(sizeof(SHELLEXECUTEINFOW) == 112, "SHELLEXECUTEINFOW layout");
#endif
static_assert(sizeof(TOKEN_ELEVATION) == 4, "TOKEN_ELEVATION layout");

// Long-path builds can run from paths beyond MAX_PATH; the buffer grows until
// the path fits rather than launching a truncated one.
constexpr DWORD kMaxModulePath = 32768;

}  // namespace

bool WinProcessLauncher::IsProcessElevated() {
  HANDLE opened = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) return false;
  const ScopedHandle token(opened);
  TOKEN_ELEVATION elevation = {};
  DWORD returned = 0;
  const BOOL ok =
      GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof(elevation), &returned);
  return ok && elevation.TokenIsElevated != 0;
}

uint32_t WinProcessLauncher::CurrentProcessId() { return GetCurrentProcessId(); }

uint64_t WinProcessLauncher::TickCount64() { return GetTickCount64(); }

bool WinProcessLauncher::GetOwnPath(std::string* path, uint32_t* error) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      *error = GetLastError();
      return false;
    }
    if (length < buffer.size()) {
      buffer.resize(length);
      *path = WideToUtf8(buffer);
      return true;
    }
    if (buffer.size() >= kMaxModulePath) {
      *error = ERROR_INSUFFICIENT_BUFFER;
      return false;
    }
    buffer.resize(buffer.size() * 2);
  }
}

ProcessLauncher::ComInit WinProcessLauncher::InitializeCom() {
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (hr == S_OK) return ComInit::kInitialised;
  if (hr == S_FALSE) return ComInit::kAlreadyInitialised;
  return ComInit::kFailed;
}

void WinProcessLauncher::UninitializeCom() { CoUninitialize(); }

bool WinProcessLauncher::StartElevated(const std::string& file, const std::string& parameters,
                                       ProcessHandle* process, uint32_t* error) {
  const std::wstring wide_file = Utf8ToWide(file);
  const std::wstring wide_parameters = Utf8ToWide(parameters);
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = kShellExecuteMask;
  info.lpVerb = L"runas";
  info.lpFile = wide_file.c_str();
  info.lpParameters = wide_parameters.c_str();
  info.lpDirectory = nullptr;
  info.nShow = SW_HIDE;
  if (!ShellExecuteExW(&info)) {
    *error = GetLastError();
    return false;
  }
  *process = info.hProcess;
  return true;
}

ProcessLauncher::WaitResult WinProcessLauncher::Wait(ProcessHandle process, uint32_t limit_ms) {
  switch (WaitForSingleObject(process, limit_ms)) {
    case WAIT_OBJECT_0:
      return WaitResult::kSignalled;
    case WAIT_TIMEOUT:
      return WaitResult::kTimedOut;
    default:
      return WaitResult::kFailed;
  }
}

void WinProcessLauncher::Terminate(ProcessHandle process, uint32_t exit_code) {
  TerminateProcess(process, exit_code);
}

bool WinProcessLauncher::GetExitCode(ProcessHandle process, uint32_t* exit_code, uint32_t* error) {
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code)) {
    *error = GetLastError();
    return false;
  }
  *exit_code = code;
  return true;
}

void WinProcessLauncher::Close(ProcessHandle process) { const ScopedHandle closing(process); }

ProcessLauncher& SystemProcessLauncher() {
  static WinProcessLauncher launcher;
  return launcher;
}

bool IsProcessElevated() { return SystemProcessLauncher().IsProcessElevated(); }

bool GetTempDirectory(std::string* directory, uint32_t* error) {
  return SystemFileSystem().GetTempDirectory(directory, error);
}

}  // namespace vek_native
