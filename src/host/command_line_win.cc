#include "host/command_line_win.h"

#include <windows.h>
// shellapi.h needs the types of windows.h.
#include <shellapi.h>

#include <cwchar>

namespace vek_native {

std::vector<std::string> ArgumentsFromCommandLine(const wchar_t* command_line) {
  std::vector<std::string> arguments;
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(command_line, &argc);
  if (!argv) return arguments;
  for (int i = 1; i < argc; ++i) {
    const int input_length = static_cast<int>(wcslen(argv[i]));
    std::string utf8;
    const int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, argv[i], input_length,
                                         nullptr, 0, nullptr, nullptr);
    if (size > 0) {
      utf8.resize(static_cast<size_t>(size));
      if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, argv[i], input_length, &utf8[0], size,
                              nullptr, nullptr) != size) {
        utf8.clear();
      }
    }
    arguments.push_back(std::move(utf8));
  }
  LocalFree(argv);
  return arguments;
}

}  // namespace vek_native
