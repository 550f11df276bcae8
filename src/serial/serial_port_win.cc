// Overlapped serial I/O and the serial listing over the registry and SetupAPI.
#include <windows.h>
// clang-format off
#include <initguid.h>
#include <devpkey.h>
#include <setupapi.h>
// clang-format on

#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/detached_thread.h"
#include "common/device_property_win.h"
#include "common/scoped_win.h"
#include "common/text.h"
#include "serial/serial_connections.h"
#include "serial/serial_operations.h"

namespace vek_native {
namespace {

static_assert(sizeof(DCB) == 28, "DCB layout");

// {4D36E978-E325-11CE-BFC1-08002BE10318}
const GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// The port handle, shared by the port and any write that outlived its wait:
// it closes when the last of them lets go, never under a pending write.
using SharedPortHandle = std::shared_ptr<void>;

SharedPortHandle SharePortHandle(ScopedHandle port) {
  return SharedPortHandle(port.Release(), HandleTraits::Free);
}

// One overlapped write with everything the system may use until it ends.
class WindowsPendingWrite final : public SerialPendingWrite {
 public:
  WindowsPendingWrite(SharedPortHandle port, ScopedHandle event, const uint8_t* data, uint32_t size)
      : port_(std::move(port)), event_(std::move(event)), data_(data, data + size) {
    overlapped_.hEvent = event_.Get();
  }

  // WriteFile of the whole copy; false with *error when it failed outright.
  bool Start(DWORD* done, uint32_t* error, bool* pending) {
    *pending = false;
    if (WriteFile(port_.get(), data_.data(), static_cast<DWORD>(data_.size()), done,
                  &overlapped_)) {
      return true;
    }
    const DWORD last = GetLastError();
    if (last != ERROR_IO_PENDING) {
      *error = last;
      return false;
    }
    *pending = true;
    return true;
  }

  bool Wait(uint32_t timeout_ms) override {
    return WaitForSingleObject(event_.Get(), timeout_ms) == WAIT_OBJECT_0;
  }
  uint32_t Written() override {
    DWORD done = 0;
    return GetOverlappedResult(port_.get(), &overlapped_, &done, FALSE) ? done : 0;
  }
  void Cancel() override { CancelIoEx(port_.get(), &overlapped_); }
  void WaitUntilEnded() override {
    DWORD done = 0;
    GetOverlappedResult(port_.get(), &overlapped_, &done, TRUE);
  }

 private:
  SharedPortHandle port_;
  ScopedHandle event_;
  std::vector<uint8_t> data_;
  OVERLAPPED overlapped_ = {};
};
static_assert(!std::is_copy_constructible_v<WindowsPendingWrite>, "owns its event");

class WindowsSerialPort : public SerialPortDevice {
 public:
  WindowsSerialPort(ScopedHandle port, ScopedHandle stop)
      : port_(SharePortHandle(std::move(port))), stop_(std::move(stop)) {}

  bool PrepareRead() override {
    read_event_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return read_event_.IsValid();
  }

  SerialReadStart StartRead(uint8_t* buffer, uint32_t size, uint32_t* bytes) override {
    ResetEvent(read_event_.Get());
    read_ = OVERLAPPED{};
    read_.hEvent = read_event_.Get();
    DWORD got = 0;
    if (ReadFile(port_.get(), buffer, size, &got, &read_)) {
      *bytes = got;
      return SerialReadStart::kCompleted;
    }
    return GetLastError() == ERROR_IO_PENDING ? SerialReadStart::kPending
                                              : SerialReadStart::kFailed;
  }

  SerialReadWait WaitRead(uint32_t timeout_ms) override {
    HANDLE handles[2] = {read_event_.Get(), stop_.Get()};
    switch (WaitForMultipleObjects(2, handles, FALSE, timeout_ms)) {
      case WAIT_OBJECT_0:
        return SerialReadWait::kCompleted;
      case WAIT_OBJECT_0 + 1:
        return SerialReadWait::kStopped;
      case WAIT_TIMEOUT:
        return SerialReadWait::kTimedOut;
      default:
        return SerialReadWait::kFailed;
    }
  }

  bool FinishRead(uint32_t* bytes, uint32_t* error) override {
    DWORD got = 0;
    if (!GetOverlappedResult(port_.get(), &read_, &got, FALSE)) {
      *error = GetLastError();
      return false;
    }
    *bytes = got;
    return true;
  }

  uint32_t CancelRead() override {
    CancelIoEx(port_.get(), &read_);
    // The reader thread owns the port while it waits here, so waiting as
    // long as the driver takes keeps the buffer and OVERLAPPED alive until it
    // is done with them; the read may also have finished with data meanwhile.
    DWORD got = 0;
    return GetOverlappedResult(port_.get(), &read_, &got, TRUE) ? got : 0;
  }

  SerialWriteOutcome Write(const uint8_t* data, uint32_t size, uint32_t timeout_ms,
                           uint32_t* written, uint32_t* error) override {
    *written = 0;
    ScopedHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event.IsValid()) {
      *error = GetLastError();
      return SerialWriteOutcome::kEventFailed;
    }
    auto write = std::make_unique<WindowsPendingWrite>(port_, std::move(event), data, size);
    DWORD done = 0;
    bool pending = false;
    if (!write->Start(&done, error, &pending)) return SerialWriteOutcome::kFailed;
    if (!pending) {
      *written = done;
      return SerialWriteOutcome::kDone;
    }
    return FinishSerialWrite(std::move(write), timeout_ms, StartDetachedThread, written);
  }

  void Stop() override {
    if (stop_.IsValid()) SetEvent(stop_.Get());
    if (port_) CancelIoEx(port_.get(), nullptr);
  }

  void Close() override {
    port_.reset();
    stop_.Reset();
  }

 private:
  SharedPortHandle port_;
  ScopedHandle stop_;
  ScopedHandle read_event_;
  OVERLAPPED read_ = {};
};
static_assert(!std::is_copy_constructible_v<WindowsSerialPort>, "owns the port and its events");

class Win32SerialPortApi final : public SerialPortApi {
 public:
  std::unique_ptr<SerialPortDevice> Open(const SerialOpenSettings& s, SerialOpenStep* step,
                                         uint32_t* error) override {
    ScopedHandle port(CreateFileW(Utf8ToWide(s.device_path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!port.IsValid()) return Fail(step, error, SerialOpenStep::kOpen);
    SetupComm(port.Get(), s.input_queue, s.output_queue);
    DCB dcb = {};
    dcb.DCBlength = sizeof(DCB);
    if (!GetCommState(port.Get(), &dcb)) return Fail(step, error, SerialOpenStep::kReadConfig);
    dcb.BaudRate = s.baud_rate;
    dcb.ByteSize = s.byte_size;
    dcb.Parity = s.parity;
    dcb.StopBits = s.stop_bits;
    dcb.fBinary = s.binary;
    dcb.fParity = s.parity_check;
    dcb.fOutxCtsFlow = s.outx_cts_flow;
    dcb.fOutxDsrFlow = s.outx_dsr_flow;
    dcb.fDsrSensitivity = s.dsr_sensitivity;
    dcb.fOutX = s.out_x;
    dcb.fInX = s.in_x;
    dcb.fDtrControl = s.dtr_control;
    dcb.fRtsControl = s.rts_control;
    if (!SetCommState(port.Get(), &dcb)) return Fail(step, error, SerialOpenStep::kConfigure);
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = s.read_interval_timeout;
    timeouts.ReadTotalTimeoutMultiplier = s.read_total_timeout_multiplier;
    timeouts.ReadTotalTimeoutConstant = s.read_total_timeout_constant;
    timeouts.WriteTotalTimeoutMultiplier = s.write_total_timeout_multiplier;
    timeouts.WriteTotalTimeoutConstant = s.write_total_timeout_constant;
    // Time-outs and the purge are part of configuring the port: a port that
    // refuses them would read with the driver's own time-outs or hand over
    // stale bytes, so it fails to open as one that refuses its DCB.
    if (!SetCommTimeouts(port.Get(), &timeouts) || !PurgeComm(port.Get(), s.purge_flags)) {
      return Fail(step, error, SerialOpenStep::kConfigure);
    }
    ScopedHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stop.IsValid()) return Fail(step, error, SerialOpenStep::kStopEvent);
    return std::make_unique<WindowsSerialPort>(std::move(port), std::move(stop));
  }

 private:
  // Reads the thread's last error first; the caller's owners close whatever
  // was opened as it returns.
  static std::unique_ptr<SerialPortDevice> Fail(SerialOpenStep* step, uint32_t* error,
                                                SerialOpenStep failed) {
    *error = GetLastError();
    *step = failed;
    return nullptr;
  }
};

class Win32SerialPortSource final : public SerialPortSource {
 public:
  std::vector<SerialTypedValue> ReadSerialCommValues() override {
    std::vector<SerialTypedValue> values;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                      &opened) != ERROR_SUCCESS) {
      return values;
    }
    const ScopedRegistryKey key(opened);
    for (DWORD index = 0;; ++index) {
      wchar_t name[512] = {};
      DWORD name_length = 512;
      BYTE data[1024] = {};
      DWORD data_length = sizeof(data);
      DWORD type = 0;
      const LONG status =
          RegEnumValueW(key.Get(), index, name, &name_length, nullptr, &type, data, &data_length);
      if (status == ERROR_NO_MORE_ITEMS) break;
      if (status != ERROR_SUCCESS) continue;
      values.push_back({type, std::vector<uint8_t>(data, data + data_length)});
    }
    return values;
  }

  std::vector<SerialTypedValue> ReadPortsClassDeviceNames() override {
    std::vector<SerialTypedValue> names;
    const ScopedDeviceInfoList set(
        SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT));
    if (!set.IsValid()) return names;
    SP_DEVINFO_DATA info = {};
    info.cbSize = sizeof(info);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set.Get(), index, &info); ++index) {
      std::vector<uint8_t> buffer;
      if (!ReadDeviceProperty(set.Get(), &info, DEVPKEY_NAME, DEVPROP_TYPE_STRING, &buffer)) {
        continue;
      }
      names.push_back({DEVPROP_TYPE_STRING, std::move(buffer)});
    }
    return names;
  }
};

}  // namespace

SerialPortApi& WindowsSerialPortApi() {
  static Win32SerialPortApi api;
  return api;
}

SerialPortSource& WindowsSerialPortSource() {
  static Win32SerialPortSource source;
  return source;
}

}  // namespace vek_native
