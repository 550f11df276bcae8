// Text helpers shared by the trace readers, the capture result and meta file
// readers and the capability probe. They work on bytes: a "blank" is one of
// blank, tab, CR and LF.
#ifndef VEK_CAPTURE_TRACE_TEXT_H_
#define VEK_CAPTURE_TRACE_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vek_native {

// Vendor, product and interface number of a USB device instance path such as
// "USB\VID_046D&PID_C52B&MI_01\7&1A2B3C4D&0&0001".
struct UsbInstanceId {
  uint32_t vendor_id = 0;
  uint32_t product_id = 0;
  int32_t interface_number = -1;  // -1: the path names no "&MI_" interface
};

bool IsAsciiBlank(char c);
std::string_view TrimAsciiSpace(std::string_view text);

// "&amp;", "&lt;", "&gt;", "&quot;", "&apos;" and numeric references. A numeric
// reference to a surrogate or above U+10FFFF appends nothing, so valid UTF-8
// input stays valid UTF-8. Unknown names and a lone ampersand stay as written.
std::string DecodeXmlEntities(std::string_view text);

// Hex text with an optional "0x" prefix and blanks anywhere; every other
// character must pair up into hex digits. At least one byte on success; false
// (and nothing) on any fault, empty text included.
bool HexToBytes(std::string_view text, std::vector<uint8_t>* bytes);
std::string BytesToHex(const uint8_t* data, size_t size);
inline std::string BytesToHex(const std::vector<uint8_t>& bytes) {
  return BytesToHex(bytes.data(), bytes.size());
}

// Trimmed decimal, or hexadecimal after "0x"; trailing characters after the
// digits are ignored; values above 32 bits fail. A failure leaves *value as it
// was, and so does ParseInt64Strict's.
bool ParseUnsignedNumber(std::string_view text, uint32_t* value);

// Trimmed signed decimal that must be consumed completely.
bool ParseInt64Strict(std::string_view text, int64_t* value);

bool ParseUsbInstanceId(std::string_view instance_path, UsbInstanceId* id);

// A trace time stamp "YYYY-MM-DDThh:mm:ss[.ffffff...]..." to microseconds since
// 1970-01-01 taken as UTC. Dates the calendar does not have (month 13, 30
// February), years outside 1601..30827 and instants not after 1970 fail.
bool ParseEventTime(std::string_view text, int64_t* micros);

// Drops a "0x" prefix and every non-hex character; the rest, upper-cased, when
// it holds an even number (at least 2) of digits, else "".
std::string NormalizeHex(std::string_view value);

// Runs of blanks become one blank; no blank at either end.
std::string CollapseWhitespace(std::string_view text);

}  // namespace vek_native

#endif  // VEK_CAPTURE_TRACE_TEXT_H_
