// Windows answers to the capture checks: the build-number override variable,
// RtlGetVersion, and the trace queries of the system TraceApi.
#include <windows.h>

#include <utility>

#include "capture/capture_support.h"

namespace vek_native {
namespace {

static_assert(sizeof(OSVERSIONINFOW) == 276, "OSVERSIONINFOW size");

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);

bool ReadFakeBuildVariable(std::u16string* value, uint32_t* length) {
  wchar_t buffer[32] = {};
  const DWORD result = GetEnvironmentVariableW(L"VEK_TOOL_CAPTURE_FAKE_BUILD", buffer, 32);
  if (result == 0) return false;
  *length = result;
  const size_t written = result < 32 ? result : 0;
  value->assign(buffer, buffer + written);
  return true;
}

bool ReadSystemBuild(uint32_t* build) {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return false;
  // Through a generic function pointer: FARPROC's own type says nothing of
  // the real signature.
  const auto rtl_get_version = reinterpret_cast<RtlGetVersionFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlGetVersion")));
  if (rtl_get_version == nullptr) return false;
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  if (rtl_get_version(&info) != 0) return false;
  *build = info.dwBuildNumber;
  return true;
}

}  // namespace

CaptureSupportQueries SystemCaptureSupportQueries(
    std::function<bool(const std::string& usb_instance_id, uint32_t* port)> resolve_hub_port) {
  CaptureSupportQueries queries;
  queries.read_fake_build_variable = ReadFakeBuildVariable;
  queries.read_system_build = ReadSystemBuild;
  queries.list_provider_guids = [](std::vector<TraceGuid>* guids, std::string* error) {
    return ListTraceProviderGuids(SystemTraceApi(), guids, error);
  };
  queries.has_hid_class_provider = [](std::string* error) {
    return HasHidClassProvider(SystemTraceApi(), error);
  };
  queries.resolve_hub_port = std::move(resolve_hub_port);
  queries.is_tracerpt_available = [] { return IsTracerptAvailable(SystemTraceApi()); };
  return queries;
}

}  // namespace vek_native
