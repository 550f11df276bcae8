// The file operations the elevated helper runs and the result files rely on:
// the temporary directory, whole-file reads and writes, deletion and the
// capture directory. Paths are UTF-8 here; the Windows implementation converts
// them at each call.
#ifndef VEK_CAPTURE_FILE_SYSTEM_H_
#define VEK_CAPTURE_FILE_SYSTEM_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vek_native {

// Files larger than this are refused before a byte is read: a result file of
// that size is not ours, and reading it would only exhaust memory.
constexpr uint64_t kMaxWholeFileBytes = 0x20000000;  // 512 MiB
// Largest single read or write request.
constexpr uint32_t kWholeFileChunkBytes = 0x1000000;  // 16 MiB

class FileSystem {
 public:
  using FileHandle = void*;

  virtual ~FileSystem() = default;

  // The user's temporary directory, ending in a backslash.
  virtual bool GetTempDirectory(std::string* directory, uint32_t* error) = 0;

  // Opens an existing file for reading, sharing read and write.
  virtual bool OpenForRead(const std::string& path, FileHandle* file, uint32_t* error) = 0;
  virtual bool FileSize(FileHandle file, uint64_t* size, uint32_t* error) = 0;
  // One read of at most `size` bytes; *done 0 means the end of the file.
  virtual bool Read(FileHandle file, uint8_t* buffer, uint32_t size, uint32_t* done,
                    uint32_t* error) = 0;

  // Creates or truncates a file for writing, not shared.
  virtual bool CreateForWrite(const std::string& path, FileHandle* file, uint32_t* error) = 0;
  virtual bool Write(FileHandle file, const uint8_t* data, uint32_t size, uint32_t* done,
                     uint32_t* error) = 0;

  virtual void Close(FileHandle file) = 0;

  virtual bool RemoveFile(const std::string& path, uint32_t* error) = 0;
  // Error 183 (already exists) is reported as a failure; callers decide.
  virtual bool MakeDirectory(const std::string& path, uint32_t* error) = 0;
  virtual bool RemoveEmptyDirectory(const std::string& path, uint32_t* error) = 0;
};

// Reads the whole file. On failure the output is empty and, when `message` is
// given, it says why in the user's words.
bool ReadWholeFile(FileSystem& fs, const std::string& path, std::vector<uint8_t>* bytes,
                   std::string* message = nullptr);
bool ReadWholeFile(FileSystem& fs, const std::string& path, std::string* text,
                   std::string* message = nullptr);

// Writes the bytes as the whole file (an empty input gives an empty file). A
// write that fails half-way removes the partial file, so a reader never takes
// a truncated result for a whole one.
bool WriteWholeFile(FileSystem& fs, const std::string& path, std::string_view bytes,
                    std::string* message = nullptr);
bool WriteWholeFile(FileSystem& fs, const std::string& path, const std::vector<uint8_t>& bytes,
                    std::string* message = nullptr);

// A temporary name unique per process and moment:
// directory + prefix + pid + "_" + tick + suffix, numbers in decimal.
std::string TempName(std::string_view directory, std::string_view prefix, uint32_t process_id,
                     uint64_t tick_count, std::string_view suffix);

// The tick for a temporary name: `now`, unless this process already used a
// tick that large, then one more than the last. GetTickCount64 moves in steps
// of 10-16 ms, so two launches from two worker threads would otherwise get the
// same name and delete or overwrite each other's results.
uint64_t NextTempNameTick(uint64_t now);

#ifdef _WIN32
// CreateFileW, ReadFile, WriteFile, DeleteFileW, CreateDirectoryW,
// RemoveDirectoryW and GetTempPathW.
class WinFileSystem : public FileSystem {
 public:
  bool GetTempDirectory(std::string* directory, uint32_t* error) override;
  bool OpenForRead(const std::string& path, FileHandle* file, uint32_t* error) override;
  bool FileSize(FileHandle file, uint64_t* size, uint32_t* error) override;
  bool Read(FileHandle file, uint8_t* buffer, uint32_t size, uint32_t* done,
            uint32_t* error) override;
  bool CreateForWrite(const std::string& path, FileHandle* file, uint32_t* error) override;
  bool Write(FileHandle file, const uint8_t* data, uint32_t size, uint32_t* done,
             uint32_t* error) override;
  void Close(FileHandle file) override;
  bool RemoveFile(const std::string& path, uint32_t* error) override;
  bool MakeDirectory(const std::string& path, uint32_t* error) override;
  bool RemoveEmptyDirectory(const std::string& path, uint32_t* error) override;
};

// The process-wide Windows file system.
FileSystem& SystemFileSystem();
#endif

}  // namespace vek_native

#endif  // VEK_CAPTURE_FILE_SYSTEM_H_
