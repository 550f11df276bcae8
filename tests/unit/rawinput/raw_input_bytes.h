// The bytes GetRawInputData returns for one mouse or keyboard message, laid
// out by hand after the 64-bit RAWINPUT structures (so that they check the
// decoder's offsets rather than repeat them), for tests and benchmarks.
#ifndef VEK_TESTS_UNIT_RAWINPUT_RAW_INPUT_BYTES_H_
#define VEK_TESTS_UNIT_RAWINPUT_RAW_INPUT_BYTES_H_

#include <cstdint>
#include <vector>

#include "rawinput/raw_input_record.h"
#include "rawinput/rawinput_devices.h"

namespace vek_native {

inline void PutLe(std::vector<uint8_t>& bytes, size_t offset, uint64_t value, int size) {
  for (int i = 0; i < size; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// RAWINPUTHEADER: dwType, dwSize, hDevice, wParam; then `body` bytes whose
// padding is not zero.
inline std::vector<uint8_t> RawInputBytes(uint32_t type, uint64_t device, size_t body) {
  std::vector<uint8_t> bytes(24 + body, 0xCC);
  PutLe(bytes, 0, type, 4);
  PutLe(bytes, 4, bytes.size(), 4);
  PutLe(bytes, 8, device, 8);
  PutLe(bytes, 16, 0, 8);
  return bytes;
}

// RAWMOUSE: usFlags, 2 bytes of padding, usButtonFlags, usButtonData,
// ulRawButtons, lLastX, lLastY, ulExtraInformation.
inline std::vector<uint8_t> MouseBytes(uint64_t device, const RawMouseInput& m) {
  std::vector<uint8_t> b = RawInputBytes(kRawInputTypeMouse, device, 24);
  PutLe(b, 24, m.flags, 2);
  PutLe(b, 28, m.button_flags, 2);
  PutLe(b, 30, m.button_data, 2);
  PutLe(b, 32, 0, 4);
  PutLe(b, 36, static_cast<uint32_t>(m.last_x), 4);
  PutLe(b, 40, static_cast<uint32_t>(m.last_y), 4);
  PutLe(b, 44, 0, 4);
  return b;
}

// RAWKEYBOARD: MakeCode, Flags, Reserved, VKey, Message, ExtraInformation.
inline std::vector<uint8_t> KeyboardBytes(uint64_t device, uint16_t vkey, uint16_t make_code,
                                          uint16_t flags) {
  std::vector<uint8_t> b = RawInputBytes(kRawInputTypeKeyboard, device, 16);
  PutLe(b, 24, make_code, 2);
  PutLe(b, 26, flags, 2);
  PutLe(b, 30, vkey, 2);
  return b;
}

inline RawMouseInput Move(int32_t dx, int32_t dy) {
  RawMouseInput m;
  m.last_x = dx;
  m.last_y = dy;
  return m;
}

inline RawMouseInput Buttons(uint16_t button_flags, uint16_t button_data = 0) {
  RawMouseInput m;
  m.button_flags = button_flags;
  m.button_data = button_data;
  return m;
}

}  // namespace vek_native

#endif  // VEK_TESTS_UNIT_RAWINPUT_RAW_INPUT_BYTES_H_
