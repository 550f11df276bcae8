#include "capture/trace_session.h"

#include <cstring>

#include "common/format.h"

namespace vek_native {
namespace {

constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kFileAttributeDirectory = 0x10;
constexpr uint32_t kSystemDirectoryUnits = 260;
// PROVIDER_ENUMERATION_INFO: a 32-bit count, 32 reserved bits, then 24-byte
// TRACE_PROVIDER_INFO entries that start with the provider GUID.
constexpr uint32_t kProviderListHeader = 8;
constexpr uint32_t kProviderEntrySize = 24;

void Put32(std::vector<uint8_t>& block, uint32_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) block[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void PutString(std::vector<uint8_t>& block, uint32_t offset, const std::u16string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    block[offset + 2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
    block[offset + 2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
  // The terminator is already zero: the block starts zero-filled.
}

std::u16string Decimal16(uint64_t value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

// Fetches TdhEnumerateProviders' block in two calls. Returns 0, or the failing
// call's code with *failed_call 1 (size query) or 2 (second call). Stops after
// the size query when the size is below `min_size`.
uint32_t FetchProviderList(TraceApi& api, uint32_t min_size, std::vector<uint8_t>* block,
                           int* failed_call) {
  uint32_t size = 0;
  uint32_t result = api.EnumerateProviders(nullptr, &size);
  if (result != 0 && result != kErrorInsufficientBuffer) {
    *failed_call = 1;
    return result;
  }
  block->assign(size, 0);
  if (size < min_size) return 0;
  uint32_t second_size = size;
  result = api.EnumerateProviders(block->data(), &second_size);
  if (result != 0) {
    *failed_call = 2;
    block->clear();
    return result;
  }
  return 0;
}

// Entries the block really holds: the count it claims, bounded by its size.
size_t ProviderEntryCount(const std::vector<uint8_t>& block) {
  if (block.size() < kProviderListHeader) return 0;
  const size_t room = (block.size() - kProviderListHeader) / kProviderEntrySize;
  const size_t claimed = Get32(block.data());
  return claimed < room ? claimed : room;
}

TraceGuid ProviderEntryGuid(const std::vector<uint8_t>& block, size_t index) {
  return TraceGuidFromBytes(block.data() + kProviderListHeader + index * kProviderEntrySize);
}

}  // namespace

const CaptureProvider kCaptureProviderTable[kCaptureProviderCount] = {
    {"Microsoft-Windows-USB-USBHUB3",
     "USB 3.x 集线器（USBHUB3）",
     {0xAC52AD17, 0xCC01, 0x4F85, {0x8D, 0xF5, 0x4D, 0xCE, 0x43, 0x33, 0xC9, 0x9B}}},
    {"Microsoft-Windows-USB-USBPORT",
     "USB 主机控制器端口（USBPORT）",
     {0xC88A4EF5, 0xD048, 0x4013, {0x94, 0x08, 0xE0, 0x4B, 0x7D, 0xB2, 0x81, 0x4A}}},
    {"Microsoft-Windows-USB-USBXHCI",
     "USB xHCI 控制器（USBXHCI）",
     {0x30E1D284, 0x5D88, 0x459C, {0x83, 0xFD, 0x63, 0x45, 0xB3, 0x9B, 0x19, 0xEC}}},
    {"Microsoft-Windows-Input-HIDCLASS",
     "HID 类驱动（HIDCLASS）",
     {0x6465DA78, 0xE7A0, 0x4F39, {0xB0, 0x84, 0x8F, 0x53, 0xC7, 0xC3, 0x0D, 0xC6}}},
};

bool TraceGuid::operator==(const TraceGuid& other) const {
  return data1 == other.data1 && data2 == other.data2 && data3 == other.data3 &&
         std::memcmp(data4, other.data4, sizeof(data4)) == 0;
}

void TraceGuidToBytes(const TraceGuid& guid, uint8_t out[16]) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(guid.data1 >> (8 * i));
  out[4] = static_cast<uint8_t>(guid.data2);
  out[5] = static_cast<uint8_t>(guid.data2 >> 8);
  out[6] = static_cast<uint8_t>(guid.data3);
  out[7] = static_cast<uint8_t>(guid.data3 >> 8);
  std::memcpy(out + 8, guid.data4, 8);
}

TraceGuid TraceGuidFromBytes(const uint8_t bytes[16]) {
  TraceGuid guid;
  guid.data1 = Get32(bytes);
  guid.data2 = static_cast<uint16_t>(bytes[4] | bytes[5] << 8);
  guid.data3 = static_cast<uint16_t>(bytes[6] | bytes[7] << 8);
  std::memcpy(guid.data4, bytes + 8, 8);
  return guid;
}

bool BuildTraceProperties(const std::u16string& name, const std::u16string& log_path,
                          std::vector<uint8_t>* block) {
  namespace tp = trace_properties;
  block->clear();
  const uint64_t name_bytes = (static_cast<uint64_t>(name.size()) + 1) * 2;
  const uint64_t log_name_offset = (tp::kFixedSize + name_bytes + 7) / 8 * 8;
  const uint64_t total = log_name_offset + (static_cast<uint64_t>(log_path.size()) + 1) * 2;
  if (total > tp::kMaxBlockSize) return false;
  block->assign(static_cast<size_t>(total), 0);
  Put32(*block, tp::kWnodeBufferSize, static_cast<uint32_t>(total));
  Put32(*block, tp::kWnodeClientContext, tp::kClientContextPerformanceCounter);
  Put32(*block, tp::kWnodeFlags, tp::kWnodeFlagTracedGuid);
  Put32(*block, tp::kBufferSize, tp::kBufferSizeKb);
  Put32(*block, tp::kMaximumFileSize, tp::kMaximumFileSizeMb);
  Put32(*block, tp::kLogFileMode, tp::kLogFileModeSequential);
  Put32(*block, tp::kFlushTimer, tp::kFlushTimerSeconds);
  Put32(*block, tp::kLoggerNameOffset, tp::kFixedSize);
  Put32(*block, tp::kLogFileNameOffset, static_cast<uint32_t>(log_name_offset));
  PutString(*block, tp::kFixedSize, name);
  PutString(*block, static_cast<uint32_t>(log_name_offset), log_path);
  return true;
}

TraceSession::TraceSession(TraceApi* api) : api_(api) {}

TraceSession::~TraceSession() {
  StopTraceSession(*this);
  if (!log_path_.empty()) api_->RemoveFile(log_path_);
}

bool StartTraceSession(TraceSession& session, std::string* error) {
  TraceApi& api = *session.api_;
  std::u16string temp;
  uint32_t code = 0;
  if (!api.ReadTempDirectory(&temp, &code)) {
    SetError(error, "无法获取临时目录" + ErrorCodeSuffix(code));
    return false;
  }
  session.name_ =
      u"vek_tool_cap_" + Decimal16(api.CurrentProcessId()) + u"_" + Decimal16(api.TickCount());
  session.log_path_ = temp + session.name_ + u".etl";
  session.handle_ = 0;
  session.started_ = false;
  if (!BuildTraceProperties(session.name_, session.log_path_, &session.properties_)) {
    SetError(error, "ETW 会话名称过长，无法创建跟踪会话");
    return false;
  }
  uint32_t result = api.StartSession(&session.handle_, session.name_, &session.properties_);
  if (result == kErrorAlreadyExists) {
    // A session of this name survives from an earlier helper that was killed.
    // Stopping it writes that session's properties into the block, so the
    // block is rebuilt before the one retry.
    api.StopSession(0, session.name_, &session.properties_);
    BuildTraceProperties(session.name_, session.log_path_, &session.properties_);
    session.handle_ = 0;
    result = api.StartSession(&session.handle_, session.name_, &session.properties_);
  }
  if (result != 0) {
    session.handle_ = 0;
    SetError(error, "无法启动 ETW 跟踪会话" + ErrorCodeSuffix(result));
    return false;
  }
  session.started_ = true;
  return true;
}

bool EnableTraceProvider(TraceSession& session, const TraceGuid& provider, std::string* error) {
  if (!session.started_) {
    SetError(error, "ETW 跟踪会话未启动");
    return false;
  }
  const uint32_t result =
      session.api_->EnableProvider(session.handle_, provider, EnableTraceParameters());
  if (result != 0) {
    SetError(error, "无法启用 HID 类驱动 ETW 提供程序" + ErrorCodeSuffix(result));
    return false;
  }
  return true;
}

void StopTraceSession(TraceSession& session) {
  if (session.started_ && !session.properties_.empty()) {
    // The result is not examined: a session that already ended is as good as
    // a stopped one, and there is nothing else to try.
    session.api_->StopSession(session.handle_, session.name_, &session.properties_);
  }
  session.handle_ = 0;
  session.started_ = false;
}

bool HasHidClassProvider(TraceApi& api, std::string* error) {
  static const char kMissing[] =
      "系统未提供 HID 类 ETW "
      "提供程序（Microsoft-Windows-Input-HIDCLASS），无法抓取原始报告描述符。";
  std::vector<uint8_t> block;
  int failed_call = 0;
  const uint32_t result =
      FetchProviderList(api, kProviderListHeader + kProviderEntrySize, &block, &failed_call);
  if (result != 0) {
    SetError(error,
             CodedText("无法枚举系统 ETW 提供程序（TdhEnumerateProviders 错误码 ", result, "）。"));
    return false;
  }
  const TraceGuid& wanted = kCaptureProviderTable[kHidClassProviderIndex].guid;
  const size_t count =
      block.size() < kProviderListHeader + kProviderEntrySize ? 0 : ProviderEntryCount(block);
  for (size_t i = 0; i < count; ++i) {
    if (ProviderEntryGuid(block, i) == wanted) return true;
  }
  SetError(error, kMissing);
  return false;
}

bool ListTraceProviderGuids(TraceApi& api, std::vector<TraceGuid>* guids, std::string* error) {
  guids->clear();
  std::vector<uint8_t> block;
  int failed_call = 0;
  const uint32_t result = FetchProviderList(api, 1, &block, &failed_call);
  if (result != 0) {
    if (failed_call == 1) {
      SetError(error, "无法枚举系统 ETW 提供程序" + ErrorCodeSuffix(result) + "。");
    } else {
      SetError(error, "读取系统 ETW 提供程序列表失败" + ErrorCodeSuffix(result) + "。");
    }
    return false;
  }
  if (block.empty()) {
    SetError(error, "系统 ETW 提供程序列表为空。");
    return false;
  }
  const size_t count = ProviderEntryCount(block);
  guids->reserve(count);
  for (size_t i = 0; i < count; ++i) guids->push_back(ProviderEntryGuid(block, i));
  return true;
}

namespace {

// The system directory, or false when GetSystemDirectoryW failed or did not
// fit its 260-unit buffer.
bool SystemDirectory(TraceApi& api, std::u16string* directory, uint32_t* error) {
  const uint32_t length = api.ReadSystemDirectory(directory, error);
  return length != 0 && length < kSystemDirectoryUnits;
}

}  // namespace

bool IsTracerptAvailable(TraceApi& api) {
  std::u16string directory;
  uint32_t error = 0;
  if (!SystemDirectory(api, &directory, &error)) return false;
  uint32_t attributes = 0;
  return api.ReadFileAttributes(directory + u"\\tracerpt.exe", &attributes) &&
         (attributes & kFileAttributeDirectory) == 0;
}

std::u16string BuildTracerptCommandLine(const std::u16string& tracerpt_path,
                                        const std::u16string& etl_path,
                                        const std::u16string& xml_path) {
  return u"\"" + tracerpt_path + u"\" \"" + etl_path + u"\" -of XML -o \"" + xml_path +
         u"\" -lr -y";
}

bool ConvertTraceToXml(TraceApi& api, const std::u16string& etl_path,
                       const std::u16string& xml_path, std::string* error) {
  std::u16string directory;
  uint32_t code = 0;
  if (!SystemDirectory(api, &directory, &code)) {
    SetError(error, "无法获取系统目录" + ErrorCodeSuffix(code));
    return false;
  }
  const std::u16string tracerpt = directory + u"\\tracerpt.exe";
  uintptr_t process = 0;
  if (!api.StartHiddenProcess(tracerpt, BuildTracerptCommandLine(tracerpt, etl_path, xml_path),
                              &process, &code)) {
    SetError(error, "无法启动 tracerpt.exe" + ErrorCodeSuffix(code));
    return false;
  }
  const ProcessWait wait = api.WaitForProcess(process, kTracerptTimeoutMs);
  if (wait == ProcessWait::kTimedOut) {
    api.KillProcess(process, 1);
    api.CloseProcess(process);
    SetError(error, "tracerpt.exe 转换 ETW 跟踪超时");
    return false;
  }
  if (wait == ProcessWait::kFailed) {
    // A failed wait says nothing about the child; it must not outlive us.
    api.KillProcess(process, 1);
  }
  uint32_t exit_code = 1;
  const bool have_exit_code = api.ReadProcessExitCode(process, &exit_code, &code);
  api.CloseProcess(process);
  if (!have_exit_code) {
    SetError(error, "无法获取 tracerpt.exe 退出码" + ErrorCodeSuffix(code));
    return false;
  }
  // tracerpt reports failures through its exit code inconsistently; the XML
  // file existing is what counts.
  uint32_t attributes = 0;
  if (api.ReadFileAttributes(xml_path, &attributes)) return true;
  SetError(error, "tracerpt.exe 未生成 XML" + ExitCodeSuffix(exit_code));
  return false;
}

std::u16string ReplaceExtension(const std::u16string& path, const std::u16string& extension) {
  const size_t dot = path.rfind(u'.');
  const size_t separator = path.find_last_of(u"\\/");
  if (dot != std::u16string::npos && (separator == std::u16string::npos || dot > separator)) {
    return path.substr(0, dot) + extension;
  }
  return path + extension;
}

}  // namespace vek_native
