// Names of HID usage pages and usages (HID Usage Tables) for the pages that
// keyboards and mice use; every other usage is shown by number.
#ifndef VEK_HID_HID_USAGE_NAMES_H_
#define VEK_HID_HID_USAGE_NAMES_H_

#include <cstdint>
#include <string>

namespace vek_native {

constexpr uint16_t kUsagePageGenericDesktop = 0x01;
constexpr uint16_t kUsagePageKeyboard = 0x07;
constexpr uint16_t kUsagePageLed = 0x08;
constexpr uint16_t kUsagePageButton = 0x09;
constexpr uint16_t kUsagePageConsumer = 0x0C;
constexpr uint16_t kUsagePageDigitizers = 0x0D;
constexpr uint16_t kFirstVendorUsagePage = 0xFF00;

// "Generic Desktop", "Keyboard/Keypad", ..., "Vendor-defined 0xFF00" for
// 0xFF00-0xFFFF; "0x0088" for a page without a name.
std::string UsagePageText(uint16_t page);

// "Mouse", "X", "Button 3", "Left Control", ...; "0x0042" for a usage without
// a name on its page (vendor-defined pages included).
std::string UsageText(uint16_t page, uint16_t usage);

}  // namespace vek_native

#endif  // VEK_HID_HID_USAGE_NAMES_H_
