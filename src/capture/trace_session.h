// Event-trace sessions of the USB and HID class drivers, provider discovery,
// and conversion of a trace file to XML with the system's tracerpt.exe. The
// ETW, TDH, file and process calls sit behind TraceApi, so the properties
// block, the names, paths and the converter's command line are built here
// without Windows.
#ifndef VEK_CAPTURE_TRACE_SESSION_H_
#define VEK_CAPTURE_TRACE_SESSION_H_

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

namespace vek_native {

// A GUID as Windows lays it out: Data1..Data3 little-endian, then 8 bytes.
struct TraceGuid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  uint8_t data4[8] = {};
  bool operator==(const TraceGuid& other) const;
  bool operator!=(const TraceGuid& other) const { return !(*this == other); }
};

// The 16 bytes of a GUID in memory order, and back.
void TraceGuidToBytes(const TraceGuid& guid, uint8_t out[16]);
TraceGuid TraceGuidFromBytes(const uint8_t bytes[16]);

struct CaptureProvider {
  const char* name;
  const char* label;  // shown to the user
  TraceGuid guid;
};

// Enable order and the order of every provider list built from it.
constexpr size_t kCaptureProviderCount = 4;
extern const CaptureProvider kCaptureProviderTable[kCaptureProviderCount];
constexpr size_t kHidClassProviderIndex = 3;

// Layout of EVENT_TRACE_PROPERTIES (64-bit): field offsets within the block.
// The Windows file checks every one against the real structure.
namespace trace_properties {
constexpr uint32_t kWnodeBufferSize = 0;
constexpr uint32_t kWnodeGuid = 24;
constexpr uint32_t kWnodeClientContext = 40;
constexpr uint32_t kWnodeFlags = 44;
constexpr uint32_t kBufferSize = 48;
constexpr uint32_t kMinimumBuffers = 52;
constexpr uint32_t kMaximumBuffers = 56;
constexpr uint32_t kMaximumFileSize = 60;
constexpr uint32_t kLogFileMode = 64;
constexpr uint32_t kFlushTimer = 68;
constexpr uint32_t kLogFileNameOffset = 112;
constexpr uint32_t kLoggerNameOffset = 116;
constexpr uint32_t kFixedSize = 120;
constexpr uint32_t kMaxBlockSize = 65535;
constexpr uint32_t kWnodeFlagTracedGuid = 0x00020000;
constexpr uint32_t kClientContextPerformanceCounter = 1;
constexpr uint32_t kBufferSizeKb = 64;
constexpr uint32_t kMaximumFileSizeMb = 64;
constexpr uint32_t kLogFileModeSequential = 1;
constexpr uint32_t kFlushTimerSeconds = 1;
}  // namespace trace_properties

// The properties block with the session name at offset 120 and the log path
// behind it (8-byte aligned), both zero-terminated UTF-16. False when the block
// would exceed 65535 bytes.
bool BuildTraceProperties(const std::u16string& name, const std::u16string& log_path,
                          std::vector<uint8_t>* block);

struct EnableTraceParameters {
  uint32_t control_code = 1;  // EVENT_CONTROL_CODE_ENABLE_PROVIDER
  uint8_t level = 5;          // TRACE_LEVEL_VERBOSE
  uint64_t match_any_keyword = 0xFFFFFFFFFFFFFFFFULL;
  uint64_t match_all_keyword = 0;
  uint32_t timeout = 0;
};

enum class ProcessWait { kExited, kTimedOut, kFailed };

// One method per platform call; the Windows implementation contains no
// decision. Error codes are the thread's last error read right after the call.
class TraceApi {
 public:
  virtual ~TraceApi() = default;

  // GetTempPathW: the directory (ending in a backslash); false and the error
  // when the call returns 0.
  virtual bool ReadTempDirectory(std::u16string* directory, uint32_t* error) = 0;
  virtual uint32_t CurrentProcessId() = 0;
  virtual uint64_t TickCount() = 0;

  // StartTraceW / ControlTraceW(EVENT_TRACE_CONTROL_STOP) / EnableTraceEx2;
  // each returns the call's result code. The properties block is in/out.
  virtual uint32_t StartSession(uint64_t* handle, const std::u16string& name,
                                std::vector<uint8_t>* properties) = 0;
  virtual uint32_t StopSession(uint64_t handle, const std::u16string& name,
                               std::vector<uint8_t>* properties) = 0;
  virtual uint32_t EnableProvider(uint64_t handle, const TraceGuid& provider,
                                  const EnableTraceParameters& parameters) = 0;

  // TdhEnumerateProviders: a null buffer asks for the size.
  virtual uint32_t EnumerateProviders(uint8_t* buffer, uint32_t* size) = 0;

  // GetSystemDirectoryW with a 260-unit buffer: the raw result (0 on failure,
  // the needed size when the buffer is too small) and the text it wrote.
  virtual uint32_t ReadSystemDirectory(std::u16string* directory, uint32_t* error) = 0;
  // GetFileAttributesW: false when the call fails.
  virtual bool ReadFileAttributes(const std::u16string& path, uint32_t* attributes) = 0;
  virtual void RemoveFile(const std::u16string& path) = 0;

  // CreateProcessW(application, writable command line, no inheritance,
  // CREATE_NO_WINDOW, caller's environment and directory, zeroed STARTUPINFOW);
  // the thread handle is closed at once. `process` is an opaque handle.
  virtual bool StartHiddenProcess(const std::u16string& application,
                                  const std::u16string& command_line, uintptr_t* process,
                                  uint32_t* error) = 0;
  virtual ProcessWait WaitForProcess(uintptr_t process, uint32_t timeout_ms) = 0;
  virtual void KillProcess(uintptr_t process, uint32_t exit_code) = 0;
  virtual bool ReadProcessExitCode(uintptr_t process, uint32_t* exit_code, uint32_t* error) = 0;
  virtual void CloseProcess(uintptr_t process) = 0;
};

#ifdef _WIN32
// The process-wide Windows implementation.
TraceApi& SystemTraceApi();
#endif

// One capture's trace session. Destroying it stops a running session and
// deletes the trace file, so the file never outlives the object.
class TraceSession {
 public:
  explicit TraceSession(TraceApi* api);
  ~TraceSession();
  TraceSession(const TraceSession&) = delete;
  TraceSession& operator=(const TraceSession&) = delete;

  const std::u16string& name() const { return name_; }
  const std::u16string& log_path() const { return log_path_; }
  const std::vector<uint8_t>& properties() const { return properties_; }
  uint64_t handle() const { return handle_; }
  bool started() const { return started_; }

 private:
  friend bool StartTraceSession(TraceSession& session, std::string* error);
  friend bool EnableTraceProvider(TraceSession& session, const TraceGuid& provider,
                                  std::string* error);
  friend void StopTraceSession(TraceSession& session);

  TraceApi* api_;
  std::u16string name_;
  std::u16string log_path_;
  std::vector<uint8_t> properties_;
  uint64_t handle_ = 0;
  bool started_ = false;
};
static_assert(!std::is_copy_constructible_v<TraceSession>, "owns a trace session and its file");

// Every `error` is optional: null means no message is built.
bool StartTraceSession(TraceSession& session, std::string* error);
bool EnableTraceProvider(TraceSession& session, const TraceGuid& provider, std::string* error);
void StopTraceSession(TraceSession& session);

bool HasHidClassProvider(TraceApi& api, std::string* error);
bool ListTraceProviderGuids(TraceApi& api, std::vector<TraceGuid>* guids, std::string* error);
bool IsTracerptAvailable(TraceApi& api);

constexpr uint32_t kTracerptTimeoutMs = 120000;
std::u16string BuildTracerptCommandLine(const std::u16string& tracerpt_path,
                                        const std::u16string& etl_path,
                                        const std::u16string& xml_path);
bool ConvertTraceToXml(TraceApi& api, const std::u16string& etl_path,
                       const std::u16string& xml_path, std::string* error);

// The part after the last dot of the file name is replaced by `extension`
// (which carries its dot); a name without a dot gets it appended.
std::u16string ReplaceExtension(const std::u16string& path, const std::u16string& extension);

}  // namespace vek_native

#endif  // VEK_CAPTURE_TRACE_SESSION_H_
