#include "host/window_metrics.h"

namespace vek_native {

PhysicalRect ScaleToMonitor(int x, int y, int width, int height, uint32_t dpi) {
  const double scale = static_cast<double>(dpi) / 96.0;
  PhysicalRect rect;
  rect.x = static_cast<int>(x * scale);
  rect.y = static_cast<int>(y * scale);
  rect.width = static_cast<int>(width * scale);
  rect.height = static_cast<int>(height * scale);
  return rect;
}

}  // namespace vek_native
