// Builds the bytes GetRawInputData returns for one mouse or keyboard message
// (64-bit RAWINPUT layout), for tests and benchmarks.
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

inline std::vector<uint8_t> RawInputHeaderBytes(uint32_t type, uint64_t device, size_t body) {
  std::vector<uint8_t> bytes(kRawInputHeaderSize + body, 0xCC);  // padding is not zero
  PutLe(bytes, 0, type, 4);
  PutLe(bytes, 4, bytes.size(), 4);
  PutLe(bytes, kRawInputDeviceOffset, device, 8);
  PutLe(bytes, 16, 0, 8);
  return bytes;
}

inline std::vector<uint8_t> MouseBytes(uint64_t device, const RawMouseInput& m) {
  std::vector<uint8_t> b = RawInputHeaderBytes(kRawInputTypeMouse, device, kRawMouseSize);
  const size_t o = kRawInputHeaderSize;
  PutLe(b, o + kRawMouseFlagsOffset, m.flags, 2);
  PutLe(b, o + kRawMouseButtonFlagsOffset, m.button_flags, 2);
  PutLe(b, o + kRawMouseButtonDataOffset, m.button_data, 2);
  PutLe(b, o + 8, 0, 4);  // ulRawButtons
  PutLe(b, o + kRawMouseLastXOffset, static_cast<uint32_t>(m.last_x), 4);
  PutLe(b, o + kRawMouseLastYOffset, static_cast<uint32_t>(m.last_y), 4);
  PutLe(b, o + 20, 0, 4);  // ulExtraInformation
  return b;
}

inline std::vector<uint8_t> KeyboardBytes(uint64_t device, const RawKeyboardInput& k) {
  std::vector<uint8_t> b = RawInputHeaderBytes(kRawInputTypeKeyboard, device, kRawKeyboardSize);
  const size_t o = kRawInputHeaderSize;
  PutLe(b, o + kRawKeyboardMakeCodeOffset, k.make_code, 2);
  PutLe(b, o + kRawKeyboardFlagsOffset, k.flags, 2);
  PutLe(b, o + kRawKeyboardVKeyOffset, k.vkey, 2);
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

inline RawKeyboardInput Key(uint16_t vkey, uint16_t make_code, uint16_t flags) {
  RawKeyboardInput k;
  k.vkey = vkey;
  k.make_code = make_code;
  k.flags = flags;
  return k;
}

}  // namespace vek_native

#endif  // VEK_TESTS_UNIT_RAWINPUT_RAW_INPUT_BYTES_H_
