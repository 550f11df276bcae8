#include "host/window_metrics.h"

#include <gtest/gtest.h>

#include <tuple>

namespace vek_native {
namespace {

// The dark title bar rule is held by the Windows-layer theme test.
TEST(WindowMetricsTest, ScalesByDpiTruncating) {
  const PhysicalRect rect = ScaleToMonitor(10, -10, 1280, 721, 168);  // 175 %
  EXPECT_EQ(std::make_tuple(rect.x, rect.y, rect.width, rect.height),
            std::make_tuple(17, -17, 2240, 1261));
}

}  // namespace
}  // namespace vek_native
