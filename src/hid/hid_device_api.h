// The seam between the HID feature and hid.dll / SetupAPI / device I/O. Every
// rule (which open mode to try next, how caps and strings are read, how reads
// become events, how writes are padded) lives in portable code that talks to
// these interfaces; the Windows implementation translates each operation into
// one platform call, and tests use fake devices.
#ifndef VEK_HID_HID_DEVICE_API_H_
#define VEK_HID_HID_DEVICE_API_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hid/descriptor_synthesis.h"

namespace vek_native {

// Desired access of CreateFileW: the values are the Windows access masks.
enum class HidAccess : uint32_t {
  kAttributesOnly = 0,       // enough for attributes, strings, caps and IOCTLs
  kRead = 0x80000000u,       // GENERIC_READ
  kReadWrite = 0xC0000000u,  // GENERIC_READ | GENERIC_WRITE
};

// HIDD_ATTRIBUTES without its size field.
struct HidAttributes {
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  uint16_t version_number = 0;
};

// HIDP_LINK_COLLECTION_NODE without its user context.
struct HidLinkCollectionNode {
  uint16_t link_usage = 0;
  uint16_t link_usage_page = 0;
  uint16_t parent = 0;
  uint16_t number_of_children = 0;
  uint16_t next_sibling = 0;
  uint16_t first_child = 0;
  uint8_t collection_type = 0;
  bool is_alias = false;
};

// HIDP_STATUS_SUCCESS.
constexpr uint32_t kHidpStatusSuccess = 0x00110000u;
// HIDP_STATUS_NOT_IMPLEMENTED.
constexpr uint32_t kHidpStatusNotImplemented = 0xC0110020u;

// The identity strings hid.dll can read (HidD_Get*String).
enum class HidStringKind { kProduct, kManufacturer, kSerialNumber };

// Preparsed data of one open collection (HidD_GetPreparsedData); freed by the
// destructor (HidD_FreePreparsedData).
class HidPreparsedData {
 public:
  virtual ~HidPreparsedData() = default;
  // HidP_GetCaps: the NTSTATUS it returns.
  virtual uint32_t GetCaps(HidCaps* caps) = 0;
  // HidP_GetLinkCollectionNodes into `nodes` (its size is the capacity
  // offered); *length receives the count the call reports. The NTSTATUS.
  virtual uint32_t GetLinkCollectionNodes(std::vector<HidLinkCollectionNode>* nodes,
                                          uint32_t* length) = 0;
  // HidP_GetButtonCaps / HidP_GetValueCaps of one report type, offering room
  // for `count` records; on success `records` holds those returned. The
  // NTSTATUS. Implementations without caps records answer not-implemented.
  virtual uint32_t GetButtonCaps(HidReportType type, uint16_t count,
                                 std::vector<ButtonCapsRecord>* records) {
    return kHidpStatusNotImplemented;
  }
  virtual uint32_t GetValueCaps(HidReportType type, uint16_t count,
                                std::vector<ValueCapsRecord>* records) {
    return kHidpStatusNotImplemented;
  }
  // The PHIDP_PREPARSED_DATA itself, for code that hands it to a library
  // (report-descriptor reconstruction). Null in fakes without native data.
  virtual const void* NativeData() const = 0;
  // The preparsed data's bytes where the implementation knows them (fakes);
  // empty otherwise.
  virtual std::vector<uint8_t> Bytes() const { return {}; }
};

// What one overlapped read came to.
enum class HidReadStatus {
  kData,     // the read completed; *transferred bytes are in the buffer
  kRetry,    // the read ended without a result (GetOverlappedResult failed)
  kStopped,  // the stop event was signalled; the read was cancelled
  kFailed,   // the read could not be issued or waited for
};

// The overlapped read machinery of one input reader: the stop event, the
// read's own event and OVERLAPPED. Read() is called by the reader thread only;
// Stop() by the closing thread while a Read() may be in progress.
class HidReadChannel {
 public:
  virtual ~HidReadChannel() = default;
  // Creates the read's event. False: the reader cannot read.
  virtual bool PrepareReads() = 0;
  // One read of up to `size` bytes into `buffer`. Returns only once the
  // system no longer uses `buffer` (a cancelled read has completed), so the
  // caller may free the buffer right after.
  virtual HidReadStatus Read(uint8_t* buffer, uint32_t size, uint32_t* transferred) = 0;
  // Signals the stop event and cancels every pending read on the device.
  virtual void Stop() = 0;
};

// One open HID collection (a CreateFileW handle); closed by the destructor.
class HidDevice {
 public:
  virtual ~HidDevice() = default;
  // HidD_GetAttributes with a zero-filled block; false when the call fails.
  virtual bool GetAttributes(HidAttributes* attributes) = 0;
  // HidD_GetPreparsedData; null when it fails.
  virtual std::unique_ptr<HidPreparsedData> GetPreparsedData() = 0;
  // The size in bytes of the preparsed data's native blob, as the HID class
  // driver reports it for the collection; 0 when unknown.
  virtual size_t PreparsedDataSize() { return 0; }
  // HidD_GetProductString / ...ManufacturerString / ...SerialNumberString
  // into `buffer` of `buffer_bytes` bytes.
  virtual bool GetString(HidStringKind kind, char16_t* buffer, uint32_t buffer_bytes) = 0;
  // WriteFile without OVERLAPPED; *written is the count it reports.
  virtual bool WriteReport(const std::vector<uint8_t>& report, uint32_t* written,
                           uint32_t* error) = 0;
  // HidD_SetOutputReport / HidD_SetFeature.
  virtual bool SetOutputReport(std::vector<uint8_t>* report, uint32_t* error) = 0;
  virtual bool SetFeature(std::vector<uint8_t>* report, uint32_t* error) = 0;
  // A report read on request, as HidD_GetFeature / HidD_GetInputReport make
  // it: `report` is both the request (its first byte the report ID) and the
  // answer. Sent as the request those calls send, so the count the driver
  // answered is known: *transferred, which for report ID 0 leaves out the ID
  // byte in front. A device that does not answer within `timeout_ms` has the
  // request cancelled; the call returns only once the system is done with
  // `report`. False with *error.
  virtual bool GetFeature(std::vector<uint8_t>* report, uint32_t timeout_ms, uint32_t* transferred,
                          uint32_t* error) = 0;
  virtual bool GetInputReport(std::vector<uint8_t>* report, uint32_t timeout_ms,
                              uint32_t* transferred, uint32_t* error) = 0;
  // HidD_SetNumInputBuffers: the depth of the driver's ring of input reports
  // for this handle.
  virtual bool SetNumInputBuffers(uint32_t count, uint32_t* error) = 0;
  // Creates the stop event of an input reader (manual reset, not signalled)
  // bound to this device, which must have been opened for overlapped I/O.
  // Null with *error when the event cannot be created.
  virtual std::unique_ptr<HidReadChannel> CreateReadChannel(uint32_t* error) = 0;
  // The HANDLE, for Windows code issuing its own IOCTLs on the device.
  virtual void* NativeHandle() const = 0;
};

// One present HID device interface, as the system enumerates it.
struct HidInterfaceEntry {
  std::string path;                // DevicePath, UTF-8, case as delivered
  std::string parent_instance_id;  // DEVPKEY_Device_Parent, "" when unreadable
};

class HidDeviceApi {
 public:
  virtual ~HidDeviceApi() = default;
  // The present interfaces of the HID device-interface class, in system
  // order. Interfaces whose detail cannot be read or whose path is empty are
  // left out. False with *error (GetLastError) when the class list itself
  // cannot be created.
  virtual bool EnumerateInterfaces(std::vector<HidInterfaceEntry>* entries, uint32_t* error) = 0;
  // CreateFileW of the UTF-8 path: share read|write, OPEN_EXISTING, flags 0
  // or FILE_FLAG_OVERLAPPED. Null with *error (GetLastError) on failure.
  virtual std::unique_ptr<HidDevice> Open(const std::string& path, HidAccess access,
                                          bool overlapped, uint32_t* error) = 0;
};

#ifdef _WIN32
// The process's hid.dll / SetupAPI implementation (stateless).
HidDeviceApi& WindowsHidDeviceApi();
#endif

}  // namespace vek_native

#endif  // VEK_HID_HID_DEVICE_API_H_
