// One raw input message as read by GetRawInputData(RID_INPUT), decoded from
// the bytes of the 64-bit RAWINPUT layout into the fields capture uses.
#ifndef VEK_RAWINPUT_RAW_INPUT_RECORD_H_
#define VEK_RAWINPUT_RAW_INPUT_RECORD_H_

#include <cstddef>
#include <cstdint>

namespace vek_native {

// Byte layout of RAWINPUT in a 64-bit process: RAWINPUTHEADER (dwType,
// dwSize, hDevice, wParam), then the device data.
inline constexpr size_t kRawInputHeaderSize = 24;
inline constexpr size_t kRawInputDeviceOffset = 8;
inline constexpr size_t kRawMouseSize = 24;  // usFlags, (pad), usButtonFlags,
                                             // usButtonData, ulRawButtons,
                                             // lLastX, lLastY, ulExtraInformation
inline constexpr size_t kRawMouseFlagsOffset = 0;
inline constexpr size_t kRawMouseButtonFlagsOffset = 4;
inline constexpr size_t kRawMouseButtonDataOffset = 6;
inline constexpr size_t kRawMouseLastXOffset = 12;
inline constexpr size_t kRawMouseLastYOffset = 16;
inline constexpr size_t kRawKeyboardSize = 16;  // MakeCode, Flags, Reserved, VKey,
                                                // Message, ExtraInformation
inline constexpr size_t kRawKeyboardMakeCodeOffset = 0;
inline constexpr size_t kRawKeyboardFlagsOffset = 2;
inline constexpr size_t kRawKeyboardVKeyOffset = 6;

// RAWMOUSE fields.
struct RawMouseInput {
  uint16_t flags = 0;         // usFlags
  uint16_t button_flags = 0;  // usButtonFlags
  uint16_t button_data = 0;   // usButtonData
  int32_t last_x = 0;         // lLastX
  int32_t last_y = 0;         // lLastY
};

// RAWKEYBOARD fields.
struct RawKeyboardInput {
  uint16_t make_code = 0;  // MakeCode
  uint16_t flags = 0;      // Flags
  uint16_t vkey = 0;       // VKey
};

struct RawInputRecord {
  uint32_t type = 0;          // RAWINPUTHEADER.dwType
  uint64_t device = 0;        // RAWINPUTHEADER.hDevice
  RawMouseInput mouse;        // when type is mouse
  RawKeyboardInput keyboard;  // when type is keyboard
};

// False when the bytes are shorter than the header, or shorter than the
// mouse or keyboard data their type announces. Other types need only the
// header.
bool DecodeRawInput(const uint8_t* data, size_t size, RawInputRecord* record);

}  // namespace vek_native

#endif  // VEK_RAWINPUT_RAW_INPUT_RECORD_H_
