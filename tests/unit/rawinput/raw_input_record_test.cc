#include "rawinput/raw_input_record.h"

#include <gtest/gtest.h>

#include "unit/rawinput/raw_input_bytes.h"

namespace vek_native {
namespace {

TEST(RawInputRecordTest, DecodesMouseFields) {
  RawMouseInput m = Buttons(0x0401, 0xFF88);
  m.flags = 1;
  m.last_x = -7;
  m.last_y = 2147483647;
  const auto bytes = MouseBytes(0x1122334455667788ULL, m);
  RawInputRecord r;
  ASSERT_TRUE(DecodeRawInput(bytes.data(), bytes.size(), &r));
  EXPECT_EQ(r.type, kRawInputTypeMouse);
  EXPECT_EQ(r.device, 0x1122334455667788ULL);
  EXPECT_EQ(r.mouse.flags, 1);
  EXPECT_EQ(r.mouse.button_flags, 0x0401);
  EXPECT_EQ(r.mouse.button_data, 0xFF88);
  EXPECT_EQ(r.mouse.last_x, -7);
  EXPECT_EQ(r.mouse.last_y, 2147483647);
}

TEST(RawInputRecordTest, RejectsBytesShorterThanTheirType) {
  const auto mouse = MouseBytes(1, Move(1, 1));
  const auto keyboard = KeyboardBytes(1, Key(0x41, 0, 0));
  const auto hid = RawInputHeaderBytes(kRawInputTypeHid, 1, 0);
  RawInputRecord r;
  EXPECT_FALSE(DecodeRawInput(mouse.data(), mouse.size() - 1, &r));
  EXPECT_FALSE(DecodeRawInput(keyboard.data(), keyboard.size() - 1, &r));
  EXPECT_FALSE(DecodeRawInput(hid.data(), kRawInputHeaderSize - 1, &r));
  EXPECT_FALSE(DecodeRawInput(nullptr, 0, &r));
  EXPECT_TRUE(DecodeRawInput(hid.data(), hid.size(), &r));
  EXPECT_EQ(r.type, kRawInputTypeHid);
}

}  // namespace
}  // namespace vek_native
