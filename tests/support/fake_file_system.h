// An in-memory FileSystem for tests of the result-file exchange: files are a
// path -> bytes table, directories a set; failures are injected per call.
#ifndef VEK_TESTS_SUPPORT_FAKE_FILE_SYSTEM_H_
#define VEK_TESTS_SUPPORT_FAKE_FILE_SYSTEM_H_

#include <algorithm>
#include <cstring>
#include <map>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "capture/file_system.h"

namespace vek_native {

class FakeFileSystem : public FileSystem {
 public:
  std::string temp_directory = "C:\\Users\\u\\AppData\\Local\\Temp\\";
  std::map<std::string, std::string> files;
  std::set<std::string> directories;
  // Injected failures, call -> Windows error code: "temp", "mkdir", or
  // "open ", "size ", "read ", "create ", "write " followed by the path.
  std::map<std::string, uint32_t> errors;
  std::map<std::string, uint64_t> sizes;  // FileSize's answer instead of the bytes held
  uint32_t largest_transfer = 0;
  int open_handles = 0;

  bool GetTempDirectory(std::string* directory, uint32_t* error) override {
    *directory = temp_directory;
    return !Fails("temp", error);
  }
  bool OpenForRead(const std::string& path, FileHandle* file, uint32_t* error) override {
    if (Fails("open " + path, error)) return false;
    return files.count(path) ? Open(path, file) : Fail(2, error);
  }
  bool FileSize(FileHandle file, uint64_t* size, uint32_t* error) override {
    const std::string& path = Get(file).path;
    *size = sizes.count(path) ? sizes[path] : files[path].size();
    return !Fails("size " + Get(file).path, error);
  }
  bool Read(FileHandle file, uint8_t* buffer, uint32_t size, uint32_t* done,
            uint32_t* error) override {
    Handle& h = Get(file);
    largest_transfer = std::max(largest_transfer, size);
    if (Fails("read " + h.path, error)) {
      if (*error == 8) throw std::bad_alloc();  // ERROR_NOT_ENOUGH_MEMORY: the buffer's allocation
      return false;
    }
    const std::string& data = files[h.path];
    *done = static_cast<uint32_t>(std::min<size_t>(size, data.size() - h.position));
    std::memcpy(buffer, data.data() + h.position, *done);
    h.position += *done;
    return true;
  }
  bool CreateForWrite(const std::string& path, FileHandle* file, uint32_t* error) override {
    if (Fails("create " + path, error)) return false;
    files[path].clear();
    return Open(path, file);
  }
  bool Write(FileHandle file, const uint8_t* data, uint32_t size, uint32_t* done,
             uint32_t* error) override {
    largest_transfer = std::max(largest_transfer, size);
    if (Fails("write " + Get(file).path, error)) return false;
    files[Get(file).path].append(reinterpret_cast<const char*>(data), size);
    *done = size;
    return true;
  }
  void Close(FileHandle) override { --open_handles; }
  bool RemoveFile(const std::string& path, uint32_t* error) override {
    return files.erase(path) != 0 || Fail(2, error);
  }
  bool MakeDirectory(const std::string& path, uint32_t* error) override {
    if (Fails("mkdir", error)) return false;
    return directories.insert(path).second || Fail(183, error);
  }
  bool RemoveEmptyDirectory(const std::string& path, uint32_t* error) override {
    const auto next = files.lower_bound(path + "\\");
    if (next != files.end() && next->first.rfind(path + "\\", 0) == 0) return Fail(145, error);
    return directories.erase(path) != 0 || Fail(2, error);
  }

 private:
  struct Handle {
    std::string path;
    size_t position = 0;
  };

  static bool Fail(uint32_t code, uint32_t* error) {
    *error = code;
    return false;
  }
  bool Fails(const std::string& call, uint32_t* error) {
    const auto it = errors.find(call);
    return it != errors.end() && !Fail(it->second, error);
  }
  bool Open(const std::string& path, FileHandle* file) {
    handles_.push_back(Handle{path});
    ++open_handles;
    *file = reinterpret_cast<FileHandle>(handles_.size());
    return true;
  }
  Handle& Get(FileHandle file) { return handles_.at(reinterpret_cast<size_t>(file) - 1); }

  std::vector<Handle> handles_;
};

}  // namespace vek_native

#endif  // VEK_TESTS_SUPPORT_FAKE_FILE_SYSTEM_H_
