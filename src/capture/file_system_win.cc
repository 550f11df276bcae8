#include <windows.h>

#include "capture/file_system.h"
#include "common/scoped_win.h"
#include "common/text.h"

namespace vek_native {

bool WinFileSystem::GetTempDirectory(std::string* directory, uint32_t* error) {
  // The result never exceeds MAX_PATH + 1 units; a larger return value is the
  // size needed, should that ever change.
  std::wstring buffer(MAX_PATH + 1, L'\0');
  DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
  if (length > buffer.size()) {
    buffer.resize(length);
    length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
  }
  if (length == 0 || length > buffer.size()) {
    *error = length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
    return false;
  }
  buffer.resize(length);
  *directory = WideToUtf8(buffer);
  return true;
}

bool WinFileSystem::OpenForRead(const std::string& path, FileHandle* file, uint32_t* error) {
  HANDLE h = CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return false;
  }
  *file = h;
  return true;
}

bool WinFileSystem::FileSize(FileHandle file, uint64_t* size, uint32_t* error) {
  LARGE_INTEGER value;
  if (!GetFileSizeEx(file, &value)) {
    *error = GetLastError();
    return false;
  }
  *size = static_cast<uint64_t>(value.QuadPart);
  return true;
}

bool WinFileSystem::Read(FileHandle file, uint8_t* buffer, uint32_t size, uint32_t* done,
                         uint32_t* error) {
  DWORD read = 0;
  if (!ReadFile(file, buffer, size, &read, nullptr)) {
    *error = GetLastError();
    return false;
  }
  *done = read;
  return true;
}

bool WinFileSystem::CreateForWrite(const std::string& path, FileHandle* file, uint32_t* error) {
  HANDLE h = CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return false;
  }
  *file = h;
  return true;
}

bool WinFileSystem::Write(FileHandle file, const uint8_t* data, uint32_t size, uint32_t* done,
                          uint32_t* error) {
  DWORD written = 0;
  if (!WriteFile(file, data, size, &written, nullptr)) {
    *error = GetLastError();
    return false;
  }
  *done = written;
  return true;
}

void WinFileSystem::Close(FileHandle file) { const ScopedHandle closing(file); }

bool WinFileSystem::RemoveFile(const std::string& path, uint32_t* error) {
  if (!DeleteFileW(Utf8ToWide(path).c_str())) {
    *error = GetLastError();
    return false;
  }
  return true;
}

bool WinFileSystem::MakeDirectory(const std::string& path, uint32_t* error) {
  if (!CreateDirectoryW(Utf8ToWide(path).c_str(), nullptr)) {
    *error = GetLastError();
    return false;
  }
  return true;
}

bool WinFileSystem::RemoveEmptyDirectory(const std::string& path, uint32_t* error) {
  if (!RemoveDirectoryW(Utf8ToWide(path).c_str())) {
    *error = GetLastError();
    return false;
  }
  return true;
}

FileSystem& SystemFileSystem() {
  static WinFileSystem fs;
  return fs;
}

}  // namespace vek_native
