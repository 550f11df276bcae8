// An in-memory FileSystem for tests of the result-file exchange: files are a
// path -> bytes table, directories a set; failures are injected per path.
#ifndef VEK_TESTS_SUPPORT_FAKE_FILE_SYSTEM_H_
#define VEK_TESTS_SUPPORT_FAKE_FILE_SYSTEM_H_

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "capture/file_system.h"

namespace vek_native {

class FakeFileSystem : public FileSystem {
 public:
  std::string temp_directory = "C:\\Users\\u\\AppData\\Local\\Temp\\";
  uint32_t temp_error = 0;  // non-zero: GetTempDirectory fails with it
  std::map<std::string, std::string> files;
  std::set<std::string> directories;

  // Injected failures, by path.
  std::map<std::string, uint32_t> open_errors;
  std::map<std::string, uint32_t> size_errors;
  std::map<std::string, uint64_t> reported_sizes;  // size claimed instead of the real one
  std::map<std::string, uint32_t> read_errors;     // the read fails once this many bytes were read
  std::map<std::string, uint32_t> create_errors;
  std::map<std::string, uint64_t> write_fail_after;  // the write fails past this many bytes
  uint32_t write_error = 112;
  uint32_t make_directory_error = 0;

  // What happened.
  uint32_t largest_read = 0;
  uint32_t largest_write = 0;
  int read_calls = 0;
  int open_handles = 0;
  std::vector<std::string> removed;

  bool GetTempDirectory(std::string* directory, uint32_t* error) override {
    if (temp_error != 0) {
      *error = temp_error;
      return false;
    }
    *directory = temp_directory;
    return true;
  }

  bool OpenForRead(const std::string& path, FileHandle* file, uint32_t* error) override {
    if (auto it = open_errors.find(path); it != open_errors.end()) return Fail(it->second, error);
    if (files.count(path) == 0) return Fail(2, error);
    return Open(path, false, file);
  }

  bool FileSize(FileHandle file, uint64_t* size, uint32_t* error) override {
    const Handle& h = Get(file);
    if (auto it = size_errors.find(h.path); it != size_errors.end()) return Fail(it->second, error);
    auto reported = reported_sizes.find(h.path);
    *size = reported != reported_sizes.end() ? reported->second : files[h.path].size();
    return true;
  }

  bool Read(FileHandle file, uint8_t* buffer, uint32_t size, uint32_t* done,
            uint32_t* error) override {
    Handle& h = Get(file);
    ++read_calls;
    largest_read = std::max(largest_read, size);
    if (auto it = read_errors.find(h.path); it != read_errors.end() && h.position >= it->second) {
      return Fail(30, error);
    }
    const std::string& data = files[h.path];
    const size_t n = std::min<size_t>(size, data.size() - std::min(data.size(), h.position));
    if (n > 0) std::memcpy(buffer, data.data() + h.position, n);
    h.position += n;
    *done = static_cast<uint32_t>(n);
    return true;
  }

  bool CreateForWrite(const std::string& path, FileHandle* file, uint32_t* error) override {
    if (auto it = create_errors.find(path); it != create_errors.end()) {
      return Fail(it->second, error);
    }
    files[path].clear();
    return Open(path, true, file);
  }

  bool Write(FileHandle file, const uint8_t* data, uint32_t size, uint32_t* done,
             uint32_t* error) override {
    Handle& h = Get(file);
    largest_write = std::max(largest_write, size);
    auto limit = write_fail_after.find(h.path);
    if (limit != write_fail_after.end() && h.position + size > limit->second) {
      return Fail(write_error, error);
    }
    files[h.path].append(reinterpret_cast<const char*>(data), size);
    h.position += size;
    *done = size;
    return true;
  }

  void Close(FileHandle file) override {
    Get(file).open = false;
    --open_handles;
  }

  bool RemoveFile(const std::string& path, uint32_t* error) override {
    if (files.erase(path) == 0) return Fail(2, error);
    removed.push_back(path);
    return true;
  }

  bool MakeDirectory(const std::string& path, uint32_t* error) override {
    if (make_directory_error != 0) return Fail(make_directory_error, error);
    if (!directories.insert(path).second) return Fail(183, error);
    return true;
  }

  bool RemoveEmptyDirectory(const std::string& path, uint32_t* error) override {
    const std::string inside = path + "\\";
    for (const auto& entry : files) {
      if (entry.first.compare(0, inside.size(), inside) == 0) return Fail(145, error);
    }
    if (directories.erase(path) == 0) return Fail(2, error);
    removed.push_back(path);
    return true;
  }

 private:
  struct Handle {
    std::string path;
    size_t position = 0;
    bool open = true;
  };

  static bool Fail(uint32_t code, uint32_t* error) {
    *error = code;
    return false;
  }

  bool Open(const std::string& path, bool write, FileHandle* file) {
    handles_.push_back(Handle{path, 0, true});
    ++open_handles;
    *file = reinterpret_cast<FileHandle>(handles_.size());
    return true;
  }

  Handle& Get(FileHandle file) { return handles_.at(reinterpret_cast<size_t>(file) - 1); }

  std::vector<Handle> handles_;
};

}  // namespace vek_native

#endif  // VEK_TESTS_SUPPORT_FAKE_FILE_SYSTEM_H_
