#include "common/format.h"

#include <gtest/gtest.h>

namespace vek_native {
namespace {

TEST(FormatTest, MessageFamilies) {
  EXPECT_EQ(FormatWin32Failure("打开设备", 5), "打开设备失败（Win32 错误码 5）");
  EXPECT_EQ(FormatWin32Failure("x", 0xFFFFFFFFu), "x失败（Win32 错误码 4294967295）");
  EXPECT_EQ(CmErrorSuffix(13), "（CM 错误 13）");
  EXPECT_EQ(ErrorCodeSuffix(31), "（错误码 31）");
  EXPECT_EQ(ExitCodeSuffix(2), "（退出码 2）");
}

TEST(FormatTest, HresultAndVidPid) {
  EXPECT_EQ(FormatHresult(0x800704C7u), "0x800704C7");
  EXPECT_EQ(FormatHresult(0), "0x00000000");
  EXPECT_EQ(FormatVidPid(0x046d, 0xc077), "046d:c077");
  EXPECT_EQ(FormatVidPid(0x1, 0x12345), "0001:12345");
}

}  // namespace
}  // namespace vek_native
