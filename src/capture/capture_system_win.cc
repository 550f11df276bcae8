// The helper's clocks, sleep and local time from Windows.
#include <windows.h>

#include "capture/capture_system.h"
#include "common/clock.h"

namespace vek_native {
namespace {

uint64_t FromFileTime(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

CaptureHelperSystem SystemCaptureHelperSystem(HubPortCycler* hub) {
  CaptureHelperSystem system;
  system.trace = &SystemTraceApi();
  system.files = &SystemFileSystem();
  system.hub = hub;
  system.sleep = [](uint32_t milliseconds) { Sleep(milliseconds); };
  system.now_micros = [] { return static_cast<int64_t>(NowMicros()); };
  system.local_time = [] {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    return CaptureLocalTime{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                            now.wMinute, now.wSecond, now.wMilliseconds};
  };
  system.to_file_time = [](const CaptureLocalTime& time, uint64_t* file_time) {
    SYSTEMTIME in = {};
    in.wYear = time.year;
    in.wMonth = time.month;
    in.wDay = time.day;
    in.wHour = time.hour;
    in.wMinute = time.minute;
    in.wSecond = time.second;
    in.wMilliseconds = time.millisecond;
    FILETIME out = {};
    if (!SystemTimeToFileTime(&in, &out)) return false;
    *file_time = FromFileTime(out);
    return true;
  };
  system.system_file_time = [] {
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    return FromFileTime(now);
  };
  return system;
}

}  // namespace vek_native
