#include "host/window_metrics.h"

#include <gtest/gtest.h>

namespace vek_native {
namespace {

TEST(ScaleToMonitorTest, ScalesLogicalPixelsByDpiAndTruncates) {
  struct Case {
    uint32_t dpi;
    PhysicalRect expected;
  };
  const Case cases[] = {
      {96, {10, 10, 1280, 720}},   {144, {15, 15, 1920, 1080}},  // 150 %
      {120, {12, 12, 1600, 900}},                                // 125 %
      {168, {17, 17, 2240, 1260}},                               // 175 %: 17.5 truncates to 17
      {192, {20, 20, 2560, 1440}},
  };
  for (const Case& c : cases) {
    const PhysicalRect rect = ScaleToMonitor(10, 10, 1280, 720, c.dpi);
    EXPECT_EQ(rect.x, c.expected.x) << c.dpi;
    EXPECT_EQ(rect.y, c.expected.y) << c.dpi;
    EXPECT_EQ(rect.width, c.expected.width) << c.dpi;
    EXPECT_EQ(rect.height, c.expected.height) << c.dpi;
  }
}

TEST(WantsDarkTitleBarTest, OnlyZeroMeansDark) {
  EXPECT_TRUE(WantsDarkTitleBar(0));
  EXPECT_FALSE(WantsDarkTitleBar(1));
  EXPECT_FALSE(WantsDarkTitleBar(2));
}

}  // namespace
}  // namespace vek_native
