// What an elevated capture helper needs from the system besides the trace
// session and the files: the device's hub port (opened and cycled), sleeping
// and the clocks. The hub requests belong to the USB inspection, so they come
// in through HubPortCycler.
#ifndef VEK_CAPTURE_CAPTURE_SYSTEM_H_
#define VEK_CAPTURE_CAPTURE_SYSTEM_H_

#include <cstdint>
#include <functional>
#include <string>

#include "capture/file_system.h"
#include "capture/trace_session.h"

namespace vek_native {

class HubPortCycler {
 public:
  using HubHandle = void*;
  virtual ~HubPortCycler() = default;
  // Resolves the device's parent hub and port and opens the hub.
  virtual bool OpenParentHub(const std::string& usb_instance_id, HubHandle* hub, uint32_t* port,
                             std::string* error) = 0;
  // The port-cycle request; the device re-enumerates afterwards.
  virtual bool CyclePort(HubHandle hub, uint32_t port, std::string* error) = 0;
  virtual void CloseHub(HubHandle hub) = 0;
};

// A calendar time as GetLocalTime gives it.
struct CaptureLocalTime {
  uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Said when no hub requests are available to this build.
inline constexpr char kNoHubRequestsMessage[] = "当前版本无法复位 USB 集线器端口";

struct CaptureHelperSystem {
  TraceApi* trace = nullptr;
  FileSystem* files = nullptr;
  HubPortCycler* hub = nullptr;
  std::function<void(uint32_t milliseconds)> sleep;
  // Monotonic microseconds (NowMicros).
  std::function<int64_t()> now_micros;
  // GetLocalTime.
  std::function<CaptureLocalTime()> local_time;
  // SystemTimeToFileTime of a calendar time; false when it is not a valid time.
  std::function<bool(const CaptureLocalTime& time, uint64_t* file_time)> to_file_time;
  // GetSystemTimeAsFileTime.
  std::function<uint64_t()> system_file_time;
};

#ifdef _WIN32
// The real system with the given hub requests.
CaptureHelperSystem SystemCaptureHelperSystem(HubPortCycler* hub);
#endif

}  // namespace vek_native

#endif  // VEK_CAPTURE_CAPTURE_SYSTEM_H_
