#include "host/window_metrics.h"

#include <gtest/gtest.h>

namespace vek_native {
namespace {

TEST(WindowMetricsTest, ScalesByDpiTruncatingAndOnlyZeroMeansDark) {
  const PhysicalRect rect = ScaleToMonitor(10, -10, 1280, 721, 168);  // 175 %
  EXPECT_EQ(rect.x, 17);
  EXPECT_EQ(rect.y, -17);
  EXPECT_EQ(rect.width, 2240);
  EXPECT_EQ(rect.height, 1261);
  EXPECT_TRUE(WantsDarkTitleBar(0));
  EXPECT_FALSE(WantsDarkTitleBar(2));
}

}  // namespace
}  // namespace vek_native
