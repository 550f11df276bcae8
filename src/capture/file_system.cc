#include "capture/file_system.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <type_traits>

#include "common/format.h"

namespace vek_native {
namespace {

// Windows error numbers reported for conditions we detect ourselves.
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorWriteFault = 29;

// Closes the file on every way out of a function.
class ScopedFile {
 public:
  ScopedFile(FileSystem& fs, FileSystem::FileHandle file) : fs_(fs), file_(file) {}
  ~ScopedFile() { fs_.Close(file_); }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;

 private:
  FileSystem& fs_;
  FileSystem::FileHandle file_;
};
static_assert(!std::is_copy_constructible_v<ScopedFile>, "closes its file");

void SetMessage(std::string* message, std::string text) {
  if (message) *message = std::move(text);
}

template <typename Container>
bool ReadWholeFileInto(FileSystem& fs, const std::string& path, Container* out,
                       std::string* message) {
  out->clear();
  FileSystem::FileHandle file = nullptr;
  uint32_t error = 0;
  if (!fs.OpenForRead(path, &file, &error)) {
    SetMessage(message, "无法读取文件 " + path + ErrorCodeSuffix(error));
    return false;
  }
  ScopedFile closer(fs, file);
  uint64_t size = 0;
  if (!fs.FileSize(file, &size, &error)) {
    SetMessage(message, "无法获取文件大小 " + path + ErrorCodeSuffix(error));
    return false;
  }
  if (size > kMaxWholeFileBytes) {
    SetMessage(message, "文件过大，拒绝读取 " + path);
    return false;
  }
  try {
    size_t total = 0;
    while (total < size) {
      const uint32_t want =
          static_cast<uint32_t>(std::min<uint64_t>(kWholeFileChunkBytes, size - total));
      out->resize(total + want);
      uint32_t done = 0;
      if (!fs.Read(file, reinterpret_cast<uint8_t*>(&(*out)[total]), want, &done, &error)) {
        out->clear();
        SetMessage(message, "读取文件失败 " + path + ErrorCodeSuffix(error));
        return false;
      }
      total += std::min(done, want);
      out->resize(total);
      // The file shrank under us: what was read is what there is.
      if (done == 0) break;
    }
  } catch (const std::bad_alloc&) {
    out->clear();
    out->shrink_to_fit();
    SetMessage(message, "读取文件失败 " + path + ErrorCodeSuffix(kErrorNotEnoughMemory));
    return false;
  }
  return true;
}

}  // namespace

bool ReadWholeFile(FileSystem& fs, const std::string& path, std::vector<uint8_t>* bytes,
                   std::string* message) {
  return ReadWholeFileInto(fs, path, bytes, message);
}

bool ReadWholeFile(FileSystem& fs, const std::string& path, std::string* text,
                   std::string* message) {
  return ReadWholeFileInto(fs, path, text, message);
}

bool WriteWholeFile(FileSystem& fs, const std::string& path, std::string_view bytes,
                    std::string* message) {
  FileSystem::FileHandle file = nullptr;
  uint32_t error = 0;
  if (!fs.CreateForWrite(path, &file, &error)) {
    SetMessage(message, "无法写入文件 " + path + ErrorCodeSuffix(error));
    return false;
  }
  bool ok = true;
  {
    ScopedFile closer(fs, file);
    size_t total = 0;
    while (total < bytes.size()) {
      const uint32_t want =
          static_cast<uint32_t>(std::min<size_t>(kWholeFileChunkBytes, bytes.size() - total));
      uint32_t done = 0;
      const auto* data = reinterpret_cast<const uint8_t*>(bytes.data() + total);
      if (!fs.Write(file, data, want, &done, &error)) {
        ok = false;
        break;
      }
      // A write that reports success but moves nothing would loop for ever.
      if (done == 0) {
        error = kErrorWriteFault;
        ok = false;
        break;
      }
      total += std::min(done, want);
    }
  }
  if (!ok) {
    uint32_t ignored = 0;
    fs.RemoveFile(path, &ignored);
    SetMessage(message, "写入文件失败 " + path + ErrorCodeSuffix(error));
  }
  return ok;
}

bool WriteWholeFile(FileSystem& fs, const std::string& path, const std::vector<uint8_t>& bytes,
                    std::string* message) {
  return WriteWholeFile(fs, path,
                        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                        message);
}

std::string TempName(std::string_view directory, std::string_view prefix, uint32_t process_id,
                     uint64_t tick_count, std::string_view suffix) {
  std::string name(directory);
  name += prefix;
  name += std::to_string(process_id);
  name += '_';
  name += std::to_string(tick_count);
  name += suffix;
  return name;
}

uint64_t NextTempNameTick(uint64_t now) {
  static std::atomic<uint64_t> last{0};
  uint64_t previous = last.load();
  uint64_t next = 0;
  do {
    next = now > previous ? now : previous + 1;
  } while (!last.compare_exchange_weak(previous, next));
  return next;
}

}  // namespace vek_native
