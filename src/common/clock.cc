#include "common/clock.h"

#ifndef _WIN32
#include <chrono>
#endif

namespace vek_native {

uint64_t MicrosFromCounter(uint64_t counter, uint64_t frequency) {
  if (frequency == 0) return 0;
  return (counter / frequency) * 1000000ULL + ((counter % frequency) * 1000000ULL) / frequency;
}

#ifndef _WIN32
// Native builds (tests, benchmarks) use the steady clock; Windows uses the
// performance counter in clock_win.cc.
uint64_t NowMicros() {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(since).count());
}
#endif

}  // namespace vek_native
