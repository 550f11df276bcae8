#include "hid/hid_device_api_win.h"

#include <devpropdef.h>
#include <winioctl.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/device_property_win.h"
#include "common/scoped_win.h"
#include "common/text.h"
#include "hid/hid_device_api.h"

namespace vek_native {
namespace {

// {4D1E55B2-F16F-11CF-88CB-001111000030}
const GUID kHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
// DEVPKEY_Device_Parent, spelled out so no file needs <initguid.h> for it.
const DEVPROPKEY kDeviceParentKey = {
    {0x4340A6C5, 0x93FA, 0x4706, {0x97, 0x2C, 0x7B, 0x64, 0x80, 0x08, 0xA5, 0xA7}}, 8};

static_assert(sizeof(HIDP_CAPS) == 64, "HIDP_CAPS layout");
static_assert(sizeof(HIDD_ATTRIBUTES) == 12, "HIDD_ATTRIBUTES layout");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32, "SP_DEVICE_INTERFACE_DATA layout");
static_assert(sizeof(SP_DEVINFO_DATA) == 32, "SP_DEVINFO_DATA layout");

// IOCTL_HID_GET_COLLECTION_INFORMATION (hidclass.h): device type
// FILE_DEVICE_KEYBOARD, function 106, METHOD_BUFFERED, FILE_ANY_ACCESS; it
// answers a 12-byte HID_COLLECTION_INFORMATION.
constexpr DWORD kGetCollectionInformation =
    CTL_CODE(FILE_DEVICE_KEYBOARD, 106, METHOD_BUFFERED, FILE_ANY_ACCESS);
static_assert(kGetCollectionInformation == 0x000B01A8, "collection information IOCTL");
constexpr size_t kCollectionInformationSize = 12;

// IOCTL_HID_GET_FEATURE and IOCTL_HID_GET_INPUT_REPORT (hidclass.h): the
// requests HidD_GetFeature and HidD_GetInputReport send. Sent directly, they
// also tell how many bytes the driver answered, which the hid.dll calls keep
// to themselves.
constexpr DWORD kGetFeature =
    CTL_CODE(FILE_DEVICE_KEYBOARD, 100, METHOD_OUT_DIRECT, FILE_ANY_ACCESS);
constexpr DWORD kGetInputReport =
    CTL_CODE(FILE_DEVICE_KEYBOARD, 104, METHOD_OUT_DIRECT, FILE_ANY_ACCESS);
static_assert(kGetFeature == 0x000B0192 && kGetInputReport == 0x000B01A2, "HID report IOCTLs");
// How long a cancelled report request may take to be given back.
constexpr DWORD kCancelWaitMs = 500;

// HIDP_BUTTON_CAPS.ReportCount: newer SDKs name the USHORT right after
// IsAbsolute ReportCount, MinGW-w64 still calls that area Reserved[10].
uint16_t ButtonReportCount(const HIDP_BUTTON_CAPS& caps) {
  uint16_t count = 0;
  std::memcpy(&count,
              reinterpret_cast<const uint8_t*>(&caps) + offsetof(HIDP_BUTTON_CAPS, IsAbsolute) + 1,
              sizeof(count));
  return count;
}
static_assert(sizeof(HIDP_BUTTON_CAPS) == 72, "HIDP_BUTTON_CAPS layout");
static_assert(offsetof(HIDP_BUTTON_CAPS, IsAbsolute) == 15, "HIDP_BUTTON_CAPS layout");

class WinHidPreparsedData : public HidPreparsedData {
 public:
  explicit WinHidPreparsedData(ScopedPreparsedData data) : data_(std::move(data)) {}

  uint32_t GetCaps(HidCaps* caps) override {
    HIDP_CAPS native = {};
    const NTSTATUS status = HidP_GetCaps(data_.Get(), &native);
    if (status != HIDP_STATUS_SUCCESS) return static_cast<uint32_t>(status);
    caps->usage = native.Usage;
    caps->usage_page = native.UsagePage;
    caps->input_report_byte_length = native.InputReportByteLength;
    caps->output_report_byte_length = native.OutputReportByteLength;
    caps->feature_report_byte_length = native.FeatureReportByteLength;
    caps->number_link_collection_nodes = native.NumberLinkCollectionNodes;
    caps->number_input_button_caps = native.NumberInputButtonCaps;
    caps->number_input_value_caps = native.NumberInputValueCaps;
    caps->number_input_data_indices = native.NumberInputDataIndices;
    caps->number_output_button_caps = native.NumberOutputButtonCaps;
    caps->number_output_value_caps = native.NumberOutputValueCaps;
    caps->number_output_data_indices = native.NumberOutputDataIndices;
    caps->number_feature_button_caps = native.NumberFeatureButtonCaps;
    caps->number_feature_value_caps = native.NumberFeatureValueCaps;
    caps->number_feature_data_indices = native.NumberFeatureDataIndices;
    return static_cast<uint32_t>(status);
  }

  uint32_t GetLinkCollectionNodes(std::vector<HidLinkCollectionNode>* nodes,
                                  uint32_t* length) override {
    std::vector<HIDP_LINK_COLLECTION_NODE> native(nodes->size());
    ULONG count = static_cast<ULONG>(native.size());
    const NTSTATUS status = HidP_GetLinkCollectionNodes(native.data(), &count, data_.Get());
    *length = count;
    if (status == HIDP_STATUS_SUCCESS) {
      for (size_t i = 0; i < native.size() && i < count; ++i) {
        HidLinkCollectionNode& node = (*nodes)[i];
        node.link_usage = native[i].LinkUsage;
        node.link_usage_page = native[i].LinkUsagePage;
        node.parent = native[i].Parent;
        node.number_of_children = native[i].NumberOfChildren;
        node.next_sibling = native[i].NextSibling;
        node.first_child = native[i].FirstChild;
        node.collection_type = static_cast<uint8_t>(native[i].CollectionType);
        node.is_alias = native[i].IsAlias != 0;
      }
    }
    return static_cast<uint32_t>(status);
  }

  uint32_t GetButtonCaps(HidReportType type, uint16_t count,
                         std::vector<ButtonCapsRecord>* records) override {
    std::vector<HIDP_BUTTON_CAPS> native(count);
    USHORT length = count;
    const NTSTATUS status = HidP_GetButtonCaps(static_cast<HIDP_REPORT_TYPE>(type), native.data(),
                                               &length, data_.Get());
    if (status != HIDP_STATUS_SUCCESS) return static_cast<uint32_t>(status);
    records->clear();
    for (USHORT i = 0; i < length && i < count; ++i) {
      const HIDP_BUTTON_CAPS& b = native[i];
      ButtonCapsRecord r;
      r.usage_page = b.UsagePage;
      r.report_id = b.ReportID;
      r.bit_field = b.BitField;
      r.is_range = b.IsRange != 0;
      r.is_absolute = b.IsAbsolute != 0;
      r.report_count = ButtonReportCount(b);
      r.usage_min = b.IsRange ? b.Range.UsageMin : b.NotRange.Usage;
      r.usage_max = b.IsRange ? b.Range.UsageMax : 0;
      records->push_back(r);
    }
    return static_cast<uint32_t>(status);
  }

  uint32_t GetValueCaps(HidReportType type, uint16_t count,
                        std::vector<ValueCapsRecord>* records) override {
    std::vector<HIDP_VALUE_CAPS> native(count);
    USHORT length = count;
    const NTSTATUS status =
        HidP_GetValueCaps(static_cast<HIDP_REPORT_TYPE>(type), native.data(), &length, data_.Get());
    if (status != HIDP_STATUS_SUCCESS) return static_cast<uint32_t>(status);
    records->clear();
    for (USHORT i = 0; i < length && i < count; ++i) {
      const HIDP_VALUE_CAPS& v = native[i];
      ValueCapsRecord r;
      r.usage_page = v.UsagePage;
      r.report_id = v.ReportID;
      r.is_range = v.IsRange != 0;
      r.is_absolute = v.IsAbsolute != 0;
      r.has_null = v.HasNull != 0;
      r.bit_size = v.BitSize;
      r.report_count = v.ReportCount;
      r.logical_min = v.LogicalMin;
      r.logical_max = v.LogicalMax;
      r.physical_min = v.PhysicalMin;
      r.physical_max = v.PhysicalMax;
      r.usage_min = v.IsRange ? v.Range.UsageMin : v.NotRange.Usage;
      r.usage_max = v.IsRange ? v.Range.UsageMax : 0;
      records->push_back(r);
    }
    return static_cast<uint32_t>(status);
  }

  const void* NativeData() const override { return data_.Get(); }

 private:
  ScopedPreparsedData data_;
};
static_assert(!std::is_copy_constructible_v<WinHidPreparsedData>, "owns preparsed data");

// The stop event, and the read's event, OVERLAPPED and state. Owned by the
// reader, which destroys it only after its thread has been joined, and every
// Read() returns only once its I/O is over, so the kernel never writes into
// freed memory.
class WinHidReadChannel : public HidReadChannel {
 public:
  WinHidReadChannel(HANDLE device, ScopedHandle stop_event)
      : device_(device), stop_event_(std::move(stop_event)) {}

  bool PrepareReads() override {
    read_event_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return read_event_.IsValid();
  }

  HidReadStatus Read(uint8_t* buffer, uint32_t size, uint32_t* transferred) override {
    ResetEvent(read_event_.Get());
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = read_event_.Get();
    DWORD count = 0;
    if (ReadFile(device_, buffer, size, &count, &overlapped_)) {
      *transferred = count;
      return HidReadStatus::kData;
    }
    if (GetLastError() != ERROR_IO_PENDING) return HidReadStatus::kFailed;

    HANDLE waits[2] = {read_event_.Get(), stop_event_.Get()};
    const DWORD wait = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (wait == WAIT_OBJECT_0 + 1 || wait == WAIT_FAILED) {
      // The read may still be in flight: cancel it and wait until the kernel
      // is done with the buffer and the OVERLAPPED before anyone frees them.
      // A cancelled read completes promptly; waiting without a limit is the
      // only way to be sure of it.
      CancelIoEx(device_, &overlapped_);
      GetOverlappedResult(device_, &overlapped_, &count, TRUE);
      return wait == WAIT_FAILED ? HidReadStatus::kFailed : HidReadStatus::kStopped;
    }
    if (!GetOverlappedResult(device_, &overlapped_, &count, FALSE)) return HidReadStatus::kRetry;
    *transferred = count;
    return HidReadStatus::kData;
  }

  void Stop() override {
    SetEvent(stop_event_.Get());
    CancelIoEx(device_, nullptr);
  }

 private:
  HANDLE device_;  // owned by the WinHidDevice, which outlives its channels
  ScopedHandle stop_event_;
  ScopedHandle read_event_;
  OVERLAPPED overlapped_ = {};
};
static_assert(!std::is_copy_constructible_v<WinHidReadChannel>, "owns its events");

class WinHidDevice : public HidDevice {
 public:
  explicit WinHidDevice(ScopedHandle handle) : handle_(std::move(handle)) {}

  bool GetAttributes(HidAttributes* attributes) override {
    HIDD_ATTRIBUTES native = {};
    native.Size = sizeof(native);
    if (!HidD_GetAttributes(handle_.Get(), &native)) return false;
    attributes->vendor_id = native.VendorID;
    attributes->product_id = native.ProductID;
    attributes->version_number = native.VersionNumber;
    return true;
  }

  std::unique_ptr<HidPreparsedData> GetPreparsedData() override {
    ScopedPreparsedData data;
    if (!HidD_GetPreparsedData(handle_.Get(), data.Receive()) || !data.IsValid()) return nullptr;
    return std::make_unique<WinHidPreparsedData>(std::move(data));
  }

  size_t PreparsedDataSize() override {
    // HID_COLLECTION_INFORMATION: DescriptorSize, the preparsed data's size,
    // comes first.
    uint8_t info[kCollectionInformationSize] = {};
    DWORD returned = 0;
    if (!DeviceIoControl(handle_.Get(), kGetCollectionInformation, nullptr, 0, info, sizeof(info),
                         &returned, nullptr) ||
        returned < sizeof(uint32_t)) {
      return 0;
    }
    uint32_t size = 0;
    std::memcpy(&size, info, sizeof(size));
    return size;
  }

  bool GetString(HidStringKind kind, char16_t* buffer, uint32_t buffer_bytes) override {
    switch (kind) {
      case HidStringKind::kProduct:
        return HidD_GetProductString(handle_.Get(), buffer, buffer_bytes) != FALSE;
      case HidStringKind::kManufacturer:
        return HidD_GetManufacturerString(handle_.Get(), buffer, buffer_bytes) != FALSE;
      case HidStringKind::kSerialNumber:
        return HidD_GetSerialNumberString(handle_.Get(), buffer, buffer_bytes) != FALSE;
    }
    return false;
  }

  bool WriteReport(const std::vector<uint8_t>& report, uint32_t* written,
                   uint32_t* error) override {
    DWORD count = 0;
    const BOOL ok =
        WriteFile(handle_.Get(), report.data(), static_cast<DWORD>(report.size()), &count, nullptr);
    *error = ok ? 0 : GetLastError();
    *written = count;
    return ok != FALSE;
  }

  bool SetOutputReport(std::vector<uint8_t>* report, uint32_t* error) override {
    const BOOLEAN ok =
        HidD_SetOutputReport(handle_.Get(), report->data(), static_cast<ULONG>(report->size()));
    *error = ok ? 0 : GetLastError();
    return ok != FALSE;
  }

  bool SetFeature(std::vector<uint8_t>* report, uint32_t* error) override {
    const BOOLEAN ok =
        HidD_SetFeature(handle_.Get(), report->data(), static_cast<ULONG>(report->size()));
    *error = ok ? 0 : GetLastError();
    return ok != FALSE;
  }

  bool GetFeature(std::vector<uint8_t>* report, uint32_t timeout_ms, uint32_t* transferred,
                  uint32_t* error) override {
    return GetReport(kGetFeature, report, timeout_ms, transferred, error);
  }

  bool GetInputReport(std::vector<uint8_t>* report, uint32_t timeout_ms, uint32_t* transferred,
                      uint32_t* error) override {
    return GetReport(kGetInputReport, report, timeout_ms, transferred, error);
  }

  bool SetNumInputBuffers(uint32_t count, uint32_t* error) override {
    const BOOLEAN ok = HidD_SetNumInputBuffers(handle_.Get(), count);
    *error = ok ? 0 : GetLastError();
    return ok != FALSE;
  }

  std::unique_ptr<HidReadChannel> CreateReadChannel(uint32_t* error) override {
    ScopedHandle stop_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stop_event.IsValid()) {
      *error = GetLastError();
      return nullptr;
    }
    return std::make_unique<WinHidReadChannel>(handle_.Get(), std::move(stop_event));
  }

  void* NativeHandle() const override { return handle_.Get(); }

 private:
  // The request's buffer, event and OVERLAPPED, kept apart from the caller's
  // report: a driver that completes neither the request nor its cancellation
  // still owns them, and then they are left to it rather than freed.
  struct PendingRequest {
    std::vector<uint8_t> buffer;
    OVERLAPPED overlapped = {};
    ScopedHandle event;
  };

  bool GetReport(DWORD code, std::vector<uint8_t>* report, uint32_t timeout_ms,
                 uint32_t* transferred, uint32_t* error) {
    auto request = std::make_unique<PendingRequest>();
    request->buffer = *report;
    request->event.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!request->event.IsValid()) {
      *error = GetLastError();
      return false;
    }
    request->overlapped.hEvent = request->event.Get();
    DWORD count = 0;
    const DWORD size = static_cast<DWORD>(request->buffer.size());
    BOOL ok = DeviceIoControl(handle_.Get(), code, request->buffer.data(), size,
                              request->buffer.data(), size, &count, &request->overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
      if (WaitForSingleObject(request->event.Get(), timeout_ms) != WAIT_OBJECT_0) {
        // The device does not answer: cancel, and wait (bounded) until the
        // system has let go of the request.
        CancelIoEx(handle_.Get(), &request->overlapped);
        if (WaitForSingleObject(request->event.Get(), kCancelWaitMs) != WAIT_OBJECT_0) {
          (void)request.release();  // still the driver's: never freed
        }
        *error = ERROR_TIMEOUT;
        return false;
      }
      ok = GetOverlappedResult(handle_.Get(), &request->overlapped, &count, FALSE);
    }
    *error = ok ? 0 : GetLastError();
    *transferred = count;
    if (ok) *report = std::move(request->buffer);
    return ok != FALSE;
  }

  ScopedHandle handle_;
};
static_assert(!std::is_copy_constructible_v<WinHidDevice>, "owns the device handle");

class WinHidDeviceApi : public HidDeviceApi {
 public:
  bool EnumerateInterfaces(std::vector<HidInterfaceEntry>* entries, uint32_t* error) override {
    return ForEachPresentHidInterface(
        [entries](const std::string& path, HDEVINFO list, SP_DEVINFO_DATA* info) {
          entries->push_back({path, ReadParentInstanceId(list, info)});
        },
        error);
  }

  std::unique_ptr<HidDevice> Open(const std::string& path, HidAccess access, bool overlapped,
                                  uint32_t* error) override {
    const std::wstring wide = Utf8ToWide(path);
    ScopedHandle handle(CreateFileW(wide.c_str(), static_cast<DWORD>(access),
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr));
    if (!handle.IsValid()) {
      *error = GetLastError();
      return nullptr;
    }
    return std::make_unique<WinHidDevice>(std::move(handle));
  }
};

}  // namespace

std::string ReadParentInstanceId(HDEVINFO device_info_set, SP_DEVINFO_DATA* device_info_data) {
  std::vector<uint8_t> bytes;
  if (!ReadDeviceProperty(device_info_set, device_info_data, kDeviceParentKey, DEVPROP_TYPE_STRING,
                          &bytes)) {
    return "";
  }
  return WideToUtf8(reinterpret_cast<const wchar_t*>(bytes.data()));
}

bool ForEachPresentHidInterface(const HidInterfaceVisitor& visit, uint32_t* error) {
  const ScopedDeviceInfoList list(SetupDiGetClassDevsW(&kHidInterfaceClass, nullptr, nullptr,
                                                       DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!list.IsValid()) {
    *error = GetLastError();
    return false;
  }
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interface_data = {};
    interface_data.cbSize = sizeof(interface_data);
    if (!SetupDiEnumDeviceInterfaces(list.Get(), nullptr, &kHidInterfaceClass, index,
                                     &interface_data)) {
      break;
    }
    SP_DEVINFO_DATA info = {};
    info.cbSize = sizeof(info);
    const std::string path = WideToUtf8(ReadInterfacePath(list.Get(), &interface_data, &info));
    if (!path.empty()) visit(path, list.Get(), &info);
  }
  return true;
}

HidDeviceApi& WindowsHidDeviceApi() {
  static WinHidDeviceApi api;
  return api;
}

}  // namespace vek_native
