// Reports read on request ("readHidFeature", "readHidInputReport") and the
// decoding of a collection's reports with its own descriptor, for those reads
// and for decoding input readers.
#ifndef VEK_HID_HID_REPORT_READ_H_
#define VEK_HID_HID_REPORT_READ_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "channels/encodable_value.h"
#include "hid/hid_device_api.h"
#include "hid/hid_input.h"
#include "hid/report_descriptor.h"

namespace vek_native {

// How long a device may take to answer a report request before it is given
// up (USB control requests of the HID class are not expected to take longer).
constexpr uint32_t kHidGetReportTimeoutMs = 5000;

// A report as Windows hands it over (its ID byte first, 0 when the
// descriptor has no IDs), decoded on `analysis`.
void DecodeStackReport(const HidReportAnalysis& analysis, HidReportKind kind, ByteSpan report,
                       HidDecodedReport* out);

// The feature (kFeature) or input (kInput) report `report_id` of the
// collection at `path`, read into a buffer of the collection's report length
// with the ID in front: {reportId, data} with the bytes the device answered,
// plus "fields" and "findings" as "decodeHidReport" gives them when `decode`
// is set. False with the message when the path is not a HID collection, the
// collection has no report of that kind, the request fails or the device
// answers no bytes.
bool ReadHidReport(HidDeviceApi& api, const std::string& path, HidReportKind kind,
                   uint8_t report_id, bool decode, EncodableValue* reply, std::string* message);

// The decoder of a decoding input reader: the collection's descriptor is
// rebuilt and laid out here, once. Null with the message when the collection
// gives no descriptor.
std::unique_ptr<HidInputDecoder> MakeHidInputDecoder(HidDevice& device, std::string* message);
// The same for a descriptor at hand.
std::unique_ptr<HidInputDecoder> MakeDescriptorInputDecoder(const std::vector<uint8_t>& descriptor);

}  // namespace vek_native

#endif  // VEK_HID_HID_REPORT_READ_H_
