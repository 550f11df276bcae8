// Runs xdotool for a test under Wine. Wine cannot start Unix programs, so
// the request goes through x_relay.sh, which runs the test program and
// carries out each command it writes to the folder in VEK_X_RELAY.
#ifndef VEK_TESTS_WIN_BRIDGE_RUN_UNIX_H_
#define VEK_TESTS_WIN_BRIDGE_RUN_UNIX_H_

#include <windows.h>

#include <string>

namespace vek_native {

// Whether the program runs under x_relay.sh, so xdotool can be asked for.
inline bool XRelayAvailable() {
  wchar_t folder[MAX_PATH] = {};
  return GetEnvironmentVariableW(L"VEK_X_RELAY", folder, MAX_PATH) != 0;
}

// True when xdotool ran `arguments` and exited with 0 within ten seconds;
// false at once when the program runs without the relay.
inline bool RunXdotool(const std::wstring& arguments) {
  wchar_t folder[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"VEK_X_RELAY", folder, MAX_PATH) == 0) return false;
  static int serial = 0;
  const std::wstring name = std::to_wstring(++serial);
  const std::wstring base = std::wstring(folder) + L"\\";
  const std::wstring temporary = base + L"tmp-" + name;
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const std::string text(arguments.begin(), arguments.end());  // ASCII commands only
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  if (!MoveFileW(temporary.c_str(), (base + L"req-" + name).c_str())) return false;
  const std::wstring done = base + L"done-" + name;
  for (int i = 0; i < 1000; ++i) {
    HANDLE answer = CreateFileW(done.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (answer != INVALID_HANDLE_VALUE) {
      char code[8] = {};
      DWORD read = 0;
      ReadFile(answer, code, sizeof(code) - 1, &read, nullptr);
      CloseHandle(answer);
      DeleteFileW(done.c_str());
      return code[0] == '0';
    }
    Sleep(10);
  }
  return false;
}

}  // namespace vek_native

#endif  // VEK_TESTS_WIN_BRIDGE_RUN_UNIX_H_
