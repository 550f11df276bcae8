// The arithmetic of the host window: logical to physical pixels, and the title
// bar's theme.
#ifndef VEK_HOST_WINDOW_METRICS_H_
#define VEK_HOST_WINDOW_METRICS_H_

#include <cstdint>

namespace vek_native {

struct PhysicalRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// Each value times dpi / 96.0, truncated toward zero.
PhysicalRect ScaleToMonitor(int x, int y, int width, int height, uint32_t dpi);

// "AppsUseLightTheme" = 0 asks for a dark title bar.
inline bool WantsDarkTitleBar(uint32_t apps_use_light_theme) { return apps_use_light_theme == 0; }

}  // namespace vek_native

#endif  // VEK_HOST_WINDOW_METRICS_H_
