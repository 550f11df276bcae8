#include "rawinput/raw_input_record.h"

#include "rawinput/rawinput_devices.h"

namespace vek_native {
namespace {

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t ReadU64(const uint8_t* p) {
  return static_cast<uint64_t>(ReadU32(p)) | (static_cast<uint64_t>(ReadU32(p + 4)) << 32);
}

int32_t ReadI32(const uint8_t* p) {
  const uint32_t u = ReadU32(p);
  // Two's complement without relying on an implementation-defined cast.
  return u <= 0x7FFFFFFFu ? static_cast<int32_t>(u) : -static_cast<int32_t>(~u) - 1;
}

}  // namespace

bool DecodeRawInput(const uint8_t* data, size_t size, RawInputRecord* record) {
  if (data == nullptr || size < kRawInputHeaderSize) return false;
  RawInputRecord out;
  out.type = ReadU32(data);
  out.device = ReadU64(data + kRawInputDeviceOffset);
  const uint8_t* body = data + kRawInputHeaderSize;
  const size_t body_size = size - kRawInputHeaderSize;
  if (out.type == kRawInputTypeMouse) {
    if (body_size < kRawMouseSize) return false;
    out.mouse.flags = ReadU16(body + kRawMouseFlagsOffset);
    out.mouse.button_flags = ReadU16(body + kRawMouseButtonFlagsOffset);
    out.mouse.button_data = ReadU16(body + kRawMouseButtonDataOffset);
    out.mouse.last_x = ReadI32(body + kRawMouseLastXOffset);
    out.mouse.last_y = ReadI32(body + kRawMouseLastYOffset);
  } else if (out.type == kRawInputTypeKeyboard) {
    if (body_size < kRawKeyboardSize) return false;
    out.keyboard.make_code = ReadU16(body + kRawKeyboardMakeCodeOffset);
    out.keyboard.flags = ReadU16(body + kRawKeyboardFlagsOffset);
    out.keyboard.vkey = ReadU16(body + kRawKeyboardVKeyOffset);
  }
  *record = out;
  return true;
}

}  // namespace vek_native
