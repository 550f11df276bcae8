// A property of the code under test that must hold for every input; a
// failure ends the run as a finding, like a memory error.
#ifndef VEK_FUZZ_FUZZ_CHECK_H_
#define VEK_FUZZ_FUZZ_CHECK_H_

#include <cstdlib>

inline void Check(bool condition) {
  if (!condition) std::abort();
}

#endif  // VEK_FUZZ_FUZZ_CHECK_H_
