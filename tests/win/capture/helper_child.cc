// Stand-in for the elevated instance in the launch tests. Its first argument
// says what to do; the last argument is the result location, as the launcher
// appends it:
//   --echo ... <file>        writes every argument after the program name,
//                            each UTF-8 and followed by a NUL, to <file>
//   --exit <code> <file>     exits with <code>
//   --sleep <ms> <file>      sleeps, then exits 0
//   --write-meta <directory> writes "success=1\n" to <directory>\meta.txt
// It uses Windows calls only, so it checks the code under test from outside.
// A GUI program, as the real one is: a console program would get a console
// host from Wine that can outlive it and hold the test's output open.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

namespace {

std::string ToUtf8(const wchar_t* text) {
  const int size = static_cast<int>(wcslen(text));
  if (size == 0) return std::string();
  const int needed = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, size, out.data(), needed, nullptr, nullptr);
  return out;
}

bool WriteFileWhole(const std::wstring& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
  return ok && written == bytes.size();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 3) return 100;
  const std::wstring mode = argv[1];
  const std::wstring last = argv[argc - 1];
  int code = 0;
  if (mode == L"--echo") {
    std::string all;
    for (int i = 1; i < argc; ++i) {
      all += ToUtf8(argv[i]);
      all += '\0';
    }
    code = WriteFileWhole(last, all) ? 0 : 101;
  } else if (mode == L"--exit" && argc >= 4) {
    code = _wtoi(argv[2]);
  } else if (mode == L"--sleep" && argc >= 4) {
    Sleep(static_cast<DWORD>(_wtoi(argv[2])));
  } else if (mode == L"--write-meta") {
    code = WriteFileWhole(last + L"\\meta.txt", "success=1\n") ? 0 : 102;
  } else {
    code = 103;
  }
  LocalFree(argv);
  return code;
}
