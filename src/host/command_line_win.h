// The process's arguments as the program sees them: split like
// CommandLineToArgvW, without the program name, each in UTF-8.
#ifndef VEK_HOST_COMMAND_LINE_WIN_H_
#define VEK_HOST_COMMAND_LINE_WIN_H_

#include <string>
#include <vector>

namespace vek_native {

// An argument that is not valid UTF-16 (a lone surrogate) becomes "" rather
// than a lookalike with U+FFFD in it; a line that cannot be split gives no
// arguments.
std::vector<std::string> ArgumentsFromCommandLine(const wchar_t* command_line);

}  // namespace vek_native

#endif  // VEK_HOST_COMMAND_LINE_WIN_H_
