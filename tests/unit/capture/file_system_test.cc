#include "capture/file_system.h"

#include <gtest/gtest.h>

#include "support/fake_file_system.h"

namespace vek_native {
namespace {

const std::string kPath = "C:\\T\\vek_tool_reset_1_2.txt";

// Round trips, a missing file and a failed create are checked under Wine;
// these are the chunks and the failures Windows gives no handle on.
TEST(WholeFileTest, ChunksAndFailures) {
  FakeFileSystem fs;
  ASSERT_TRUE(WriteWholeFile(fs, kPath, std::vector<uint8_t>(kWholeFileChunkBytes + 1, 'z')));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadWholeFile(fs, kPath, &bytes));
  EXPECT_EQ(bytes.size(), kWholeFileChunkBytes + 1);
  EXPECT_EQ(fs.largest_transfer, kWholeFileChunkBytes);
  std::string text, message;
  // A file of the limit is read; one byte more is refused before any buffer is had.
  for (const uint64_t size : {kMaxWholeFileBytes, kMaxWholeFileBytes + 1}) {
    fs.sizes[kPath] = size;
    EXPECT_EQ(ReadWholeFile(fs, kPath, &text, &message), size == kMaxWholeFileBytes);
  }
  EXPECT_EQ(message, "文件过大，拒绝读取 " + kPath);
  // Each failure says why and leaves nothing open; a failed write leaves no
  // partial file. The call and its error, its message, and what is left: the
  // text read and the number of files.
  const std::tuple<std::string, uint32_t, std::string, std::string> failures[] = {
      {"size", 5, "无法获取文件大小 ", "1"},
      {"read", 5, "读取文件失败 ", "1"},
      {"read", 8, "读取文件失败 ", "1"},  // the buffer cannot be had
      {"write", 5, "写入文件失败 ", "stale0"},
      {"create", 5, "无法写入文件 ", "stale1"}};
  for (const auto& [call, code, why, left] : failures) {
    FakeFileSystem failing;
    failing.files[kPath] = "abc";
    failing.errors[call + " " + kPath] = code;
    text = "stale";
    const bool write = call == "write" || call == "create";
    EXPECT_FALSE(write ? WriteWholeFile(failing, kPath, std::string("x"), &message)
                       : ReadWholeFile(failing, kPath, &text, &message));
    EXPECT_EQ(message, why + kPath + "（错误码 " + std::to_string(code) + "）");
    EXPECT_EQ(text + std::to_string(failing.files.size()), left);
    EXPECT_EQ(failing.open_handles, 0);
  }
}

}  // namespace
}  // namespace vek_native
