// Selection and argument handling of the command-line helper modes, the
// process's privileged second role.
#ifndef VEK_HOST_HELPER_MODES_H_
#define VEK_HOST_HELPER_MODES_H_

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "capture/helper_mode_operations.h"

namespace vek_native {

// A base-10 signed 32-bit number with strtol's leading white space and sign;
// an empty argument, no digits, trailing characters or overflow give
// `default_value`.
int32_t ParseIntArgument(const std::string& argument, int32_t default_value);

// When the first argument is a helper-mode switch (compared exactly), runs the
// mode and returns the process exit code; usage lines and diagnostics go to
// `err`. Returns nullopt for a normal start.
std::optional<int> RunHelperMode(const std::vector<std::string>& arguments,
                                 const HelperModeOperations& operations, std::ostream& err);

}  // namespace vek_native

#endif  // VEK_HOST_HELPER_MODES_H_
