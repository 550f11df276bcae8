// Windows side of TraceApi: one ETW, TDH, file or process call per method.
#include <windows.h>
// clang-format off
#include <evntrace.h>
#include <tdh.h>
// clang-format on

#include <cstddef>

#include "capture/trace_session.h"
#include "common/scoped_win.h"

namespace vek_native {
namespace {

namespace tp = trace_properties;
static_assert(sizeof(void*) == 8, "the properties block is laid out for 64-bit Windows");
static_assert(sizeof(EVENT_TRACE_PROPERTIES) == tp::kFixedSize, "EVENT_TRACE_PROPERTIES size");
static_assert(offsetof(EVENT_TRACE_PROPERTIES, Wnode.BufferSize) == tp::kWnodeBufferSize, "");
static_assert(offsetof(EVENT_TRACE_PROPERTIES, Wnode.Guid) == tp::kWnodeGuid, "");
static_assert(offsetof(EVENT_TRACE_PROPERTIES, Wnode.ClientContext) == tp::kWnodeClientContext, "");
static_assert(offsetof(EVENT_TRACE_PROPERTIES, Wnode.Flags) == tp::kWnodeFlags, "");
static_assert(offsetof(EVENT_TRACE_PROPERTIES, BufferSize) == tp::kBufferSize, "");
static_assert(offsetof(EVENT_TRACE_PROPERTIES, MinimumBuffers) == tp::kMinimumBuffers, "");
static_assert(offsetof(EVENT_TRACE_PROPERTIES, MaximumBuffers) == tp::kMaximumBuffers, "");
static_assert(offsetof(EVENT_TRACE_PROPERTIES, MaximumFileSize) == tp::kMaximumFileSize, "");
static_assert(offsetof(EVENT_TRACE_PROPERTIES, LogFileMode) == tp::kLogFileMode, "");
static_assert(offsetof(EVENT_TRACE_PROPERTIES, FlushTimer) == tp::kFlushTimer, "");
static_assert(offsetof(EVENT_TRACE_PROPERTIES, LogFileNameOffset) == tp::kLogFileNameOffset, "");
static_assert(offsetof(EVENT_TRACE_PROPERTIES, LoggerNameOffset) == tp::kLoggerNameOffset, "");
static_assert(WNODE_FLAG_TRACED_GUID == tp::kWnodeFlagTracedGuid, "");
static_assert(EVENT_TRACE_FILE_MODE_SEQUENTIAL == tp::kLogFileModeSequential, "");
static_assert(sizeof(GUID) == 16 && sizeof(TRACE_PROVIDER_INFO) == 24, "provider list layout");
static_assert(offsetof(PROVIDER_ENUMERATION_INFO, TraceProviderInfoArray) == 8, "");
static_assert(sizeof(STARTUPINFOW) == 104, "STARTUPINFOW size");

std::wstring Wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

std::u16string FromWide(const wchar_t* text, size_t length) {
  return std::u16string(text, text + length);
}

GUID ToGuid(const TraceGuid& guid) {
  GUID out;
  out.Data1 = guid.data1;
  out.Data2 = guid.data2;
  out.Data3 = guid.data3;
  for (int i = 0; i < 8; ++i) out.Data4[i] = guid.data4[i];
  return out;
}

// The block is stored as bytes; Windows wants it as the structure. A vector's
// storage comes from operator new, aligned for any fundamental type.
EVENT_TRACE_PROPERTIES* AsProperties(std::vector<uint8_t>* block) {
  return reinterpret_cast<EVENT_TRACE_PROPERTIES*>(block->data());
}

class WinTraceApi final : public TraceApi {
 public:
  bool ReadTempDirectory(std::u16string* directory, uint32_t* error) override {
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD length = GetTempPathW(MAX_PATH, buffer);
    if (length == 0) {
      *error = GetLastError();
      return false;
    }
    if (length >= MAX_PATH) {
      // Too long for the first buffer: the call told us the size it needs.
      std::wstring large(length + 1, L'\0');
      length = GetTempPathW(static_cast<DWORD>(large.size()), large.data());
      if (length == 0 || length >= large.size()) {
        *error = length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
        return false;
      }
      *directory = FromWide(large.data(), length);
      return true;
    }
    *directory = FromWide(buffer, length);
    return true;
  }

  uint32_t CurrentProcessId() override { return GetCurrentProcessId(); }
  uint64_t TickCount() override { return GetTickCount64(); }

  uint32_t StartSession(uint64_t* handle, const std::u16string& name,
                        std::vector<uint8_t>* properties) override {
    TRACEHANDLE h = 0;
    const ULONG result = StartTraceW(&h, Wide(name).c_str(), AsProperties(properties));
    *handle = h;
    return result;
  }

  uint32_t StopSession(uint64_t handle, const std::u16string& name,
                       std::vector<uint8_t>* properties) override {
    return ControlTraceW(handle, Wide(name).c_str(), AsProperties(properties),
                         EVENT_TRACE_CONTROL_STOP);
  }

  uint32_t EnableProvider(uint64_t handle, const TraceGuid& provider,
                          const EnableTraceParameters& p) override {
    const GUID guid = ToGuid(provider);
    return EnableTraceEx2(handle, &guid, p.control_code, p.level, p.match_any_keyword,
                          p.match_all_keyword, p.timeout, nullptr);
  }

  uint32_t EnumerateProviders(uint8_t* buffer, uint32_t* size) override {
    ULONG length = *size;
    const ULONG result =
        TdhEnumerateProviders(reinterpret_cast<PROVIDER_ENUMERATION_INFO*>(buffer), &length);
    *size = length;
    return result;
  }

  uint32_t ReadSystemDirectory(std::u16string* directory, uint32_t* error) override {
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
    *error = GetLastError();
    if (length > 0 && length < MAX_PATH) *directory = FromWide(buffer, length);
    return length;
  }

  bool ReadFileAttributes(const std::u16string& path, uint32_t* attributes) override {
    const DWORD value = GetFileAttributesW(Wide(path).c_str());
    if (value == INVALID_FILE_ATTRIBUTES) return false;
    *attributes = value;
    return true;
  }

  void RemoveFile(const std::u16string& path) override { DeleteFileW(Wide(path).c_str()); }

  bool StartHiddenProcess(const std::u16string& application, const std::u16string& command_line,
                          uintptr_t* process, uint32_t* error) override {
    std::wstring writable = Wide(command_line);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(Wide(application).c_str(), writable.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info)) {
      *error = GetLastError();
      return false;
    }
    const ScopedHandle thread(info.hThread);  // only the process is waited for
    *process = reinterpret_cast<uintptr_t>(info.hProcess);
    return true;
  }

  ProcessWait WaitForProcess(uintptr_t process, uint32_t timeout_ms) override {
    switch (WaitForSingleObject(reinterpret_cast<HANDLE>(process), timeout_ms)) {
      case WAIT_OBJECT_0:
        return ProcessWait::kExited;
      case WAIT_TIMEOUT:
        return ProcessWait::kTimedOut;
      default:
        return ProcessWait::kFailed;
    }
  }

  void KillProcess(uintptr_t process, uint32_t exit_code) override {
    ::TerminateProcess(reinterpret_cast<HANDLE>(process), exit_code);
  }

  bool ReadProcessExitCode(uintptr_t process, uint32_t* exit_code, uint32_t* error) override {
    DWORD code = *exit_code;
    if (!GetExitCodeProcess(reinterpret_cast<HANDLE>(process), &code)) {
      *error = GetLastError();
      return false;
    }
    *exit_code = code;
    return true;
  }

  void CloseProcess(uintptr_t process) override {
    const ScopedHandle closing(reinterpret_cast<HANDLE>(process));
  }
};

}  // namespace

TraceApi& SystemTraceApi() {
  static WinTraceApi api;
  return api;
}

}  // namespace vek_native
