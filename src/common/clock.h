// The process-wide monotonic clock in microseconds: answers "nowMicros" and
// stamps every event and measured interval.
#ifndef VEK_COMMON_CLOCK_H_
#define VEK_COMMON_CLOCK_H_

#include <cstdint>

namespace vek_native {

uint64_t NowMicros();

// counter / frequency in microseconds without overflowing for large counters:
// (counter / f) * 1e6 + ((counter % f) * 1e6) / f, unsigned 64-bit arithmetic.
// A zero frequency gives 0.
uint64_t MicrosFromCounter(uint64_t counter, uint64_t frequency);

}  // namespace vek_native

#endif  // VEK_COMMON_CLOCK_H_
