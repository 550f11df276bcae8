// The feature operations the bridge dispatches to. Each feature plugs its
// operation in at start-up; a method whose operation is not plugged in answers
// not-implemented. Every operation reports failure through its bool result and
// a UTF-8 message, never through an exception.
#ifndef VEK_BRIDGE_BRIDGE_OPERATIONS_H_
#define VEK_BRIDGE_BRIDGE_OPERATIONS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "channels/encodable_value.h"

namespace vek_native {

// The top-level window (an HWND on Windows), opaque to portable code.
using WindowHandle = void*;

// How features push events to the user interface (the bridge's EmitEvent).
// Callable from any thread; the map is taken by move.
using EventEmitter = std::function<void(EncodableMap&& event)>;

// "chatterThresholdMs" of "startRawInput": its default and its range.
inline constexpr int64_t kDefaultChatterThresholdMs = 30;
inline constexpr int64_t kMinChatterThresholdMs = 1;
inline constexpr int64_t kMaxChatterThresholdMs = 500;

// The arguments of "startRawInput".
struct RawInputOptions {
  // Presses closer than this (clamped to the range above) after a release
  // count as chatter.
  int32_t chatter_threshold_ms = static_cast<int32_t>(kDefaultChatterThresholdMs);
  // "ownThread": capture on a thread of its own rather than the window's.
  bool own_thread = false;
};

// "inputBuffers" of "openHidInput": the HID class driver refuses fewer than
// 2, and 512 reports hold the reader's stalls of well over 50 ms at 8 kHz.
inline constexpr int64_t kMinHidInputBuffers = 2;
inline constexpr int64_t kMaxHidInputBuffers = 512;

// One report descriptor seen during a HID descriptor capture.
struct CapturedHidDescriptor {
  std::string instance_path;
  std::vector<uint8_t> report_descriptor;
  int32_t declared_length = 0;
  int32_t interface_number = -1;
  int32_t vendor_id = 0;
  int32_t product_id = 0;
};

// The optional arguments of "openHidInput": whether every report of the path
// is decoded with its collection's descriptor, and the driver's input buffer
// count to set before the first read (0: left as it is).
struct HidInputOptions {
  bool decode = false;
  uint32_t input_buffers = 0;
};

// One entry of "encodeHidReport"'s "values".
struct HidUsageValue {
  uint16_t usage_page = 0;
  uint16_t usage = 0;
  int64_t value = 0;
};

struct BridgeOperations {
  // "listHidDevices": the list of device records.
  std::function<bool(EncodableValue* value, std::string* message)> list_hid_devices;
  // "readHidDescriptors" (job): the descriptor report of one device path.
  std::function<bool(const std::string& path, EncodableValue* value, std::string* message)>
      read_hid_descriptors;
  // "analyzeHidReportDescriptor": the analysis map of a descriptor of 1 to
  // 65535 bytes; a max packet size of 0 means unknown.
  std::function<EncodableValue(const std::vector<uint8_t>& descriptor, uint32_t max_packet_size)>
      analyze_hid_report_descriptor;
  // "decodeHidReport": one report of kind 0 input, 1 output, 2 feature (the
  // HID stack's numbering) decoded with a descriptor of 1 to 65535 bytes;
  // false with a message for a report longer than the descriptor allows.
  std::function<bool(const std::vector<uint8_t>& descriptor, const std::vector<uint8_t>& report,
                     int kind, EncodableValue* value, std::string* message)>
      decode_hid_report;
  // "captureHidReportDescriptors" (job).
  std::function<bool(const std::string& usb_instance_id, int32_t interface_number,
                     int32_t timeout_ms, std::vector<CapturedHidDescriptor>* records,
                     bool* cancelled, std::string* message)>
      capture_hid_report_descriptors;
  // "listUsbDeviceNodes": the list of node maps, in listing order.
  std::function<bool(bool include_hid_children, EncodableValue* nodes, std::string* message)>
      list_usb_device_nodes;
  // "readUsbDeviceDiagnostics" (job): the diagnostics map.
  std::function<bool(const std::string& instance_id, EncodableValue* report, std::string* message)>
      read_usb_device_diagnostics;
  // "resetHidDevice" (job): the reset result map.
  std::function<bool(const std::string& usb_instance_id, EncodableValue* result, bool* cancelled,
                     std::string* message)>
      reset_usb_device;
  // "usbCaptureCapabilities": the capabilities map; never fails.
  std::function<EncodableValue(const std::string& usb_instance_id)> usb_capture_capabilities;
  // "captureUsbEnumeration" (job): the capture result map.
  std::function<bool(const std::string& usb_instance_id, int32_t duration_ms,
                     bool include_hid_reports, int32_t timeout_ms, EncodableValue* result,
                     bool* cancelled, std::string* message)>
      capture_usb_enumeration;
  // "openHidInput" / "closeHidInput", and closing every reader at detach.
  std::function<bool(const std::string& path, const HidInputOptions& options, std::string* message)>
      open_hid_input;
  std::function<void(const std::string& path)> close_hid_input;
  std::function<void()> close_all_hid_inputs;
  // "writeHidOutput" (feature false) / "writeHidFeature" (feature true).
  std::function<bool(const std::string& path, const std::vector<uint8_t>& data, bool feature,
                     std::string* message)>
      write_hid_report;
  // "readHidFeature" (kind 2) / "readHidInputReport" (kind 0), jobs: the report
  // of one ID read on request, decoded with the collection's descriptor when
  // asked.
  std::function<bool(const std::string& path, int kind, uint8_t report_id, bool decode,
                     EncodableValue* value, std::string* message)>
      read_hid_report;
  // "encodeHidReport": the bytes of one report of kind 0 input, 1 output, 2
  // feature built from usage values, with a descriptor of 1 to 65535 bytes.
  std::function<bool(const std::vector<uint8_t>& descriptor, int kind, uint8_t report_id,
                     const std::vector<HidUsageValue>& values, EncodableValue* value,
                     std::string* message)>
      encode_hid_report;
  // "listRawInputDevices": always succeeds.
  std::function<EncodableValue()> list_raw_input_devices;
  // Raw input capture, and the window it registers with (null at detach).
  std::function<bool(const RawInputOptions& options, std::string* message)> start_raw_input;
  std::function<void()> stop_raw_input;
  std::function<void(WindowHandle window)> set_raw_input_window;
  // "listSerialPorts", "openSerial", "writeSerial", "closeSerial", and closing
  // every port at detach.
  std::function<bool(EncodableValue* value, std::string* message)> list_serial_ports;
  std::function<bool(const std::string& port, int64_t baud_rate, int64_t* handle,
                     std::string* message)>
      open_serial;
  std::function<bool(int64_t handle, const std::vector<uint8_t>& data, std::string* message)>
      write_serial;
  std::function<void(int64_t handle)> close_serial;
  std::function<void()> close_all_serial;
  // "startKeyBlock" / "stopKeyBlock". A start that fails without a message
  // could not install the hook.
  std::function<bool(std::string* message)> start_key_block;
  std::function<void()> stop_key_block;
  // "pickSaveFile" (job): an empty path means the user cancelled.
  std::function<bool(WindowHandle owner, const std::string& suggested_name,
                     const std::string& default_directory, const std::string& filter_name,
                     const std::vector<std::string>& filter_extensions, std::string* path,
                     std::string* message)>
      pick_save_file;
};

}  // namespace vek_native

#endif  // VEK_BRIDGE_BRIDGE_OPERATIONS_H_
