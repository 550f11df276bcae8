#include "host/command_line_win.h"

#include <windows.h>
// shellapi.h needs the types of windows.h.
#include <shellapi.h>

#include <cwchar>

#include "common/scoped_win.h"

namespace vek_native {

std::vector<std::string> ArgumentsFromCommandLine(const wchar_t* command_line) {
  std::vector<std::string> arguments;
  int argc = 0;
  const ScopedLocalMemory<wchar_t*> owned_argv(CommandLineToArgvW(command_line, &argc));
  if (!owned_argv.IsValid()) return arguments;
  wchar_t** const argv = owned_argv.Get();
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
  return arguments;
}

}  // namespace vek_native
