#include "capture/file_system.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "support/fake_file_system.h"

namespace vek_native {
namespace {

const std::string kPath = "C:\\T\\vek_tool_reset_1_2.txt";

// Round trips, a missing file, a failed create and a 600 MiB file are
// checked under Wine; these are the failures Windows gives no handle on.
TEST(WholeFileTest, ChunksLimitAndFailures) {
  FakeFileSystem fs;
  ASSERT_TRUE(WriteWholeFile(fs, kPath, std::string(kWholeFileChunkBytes + 1, 'z')));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadWholeFile(fs, kPath, &bytes));
  EXPECT_EQ(bytes.size(), kWholeFileChunkBytes + 1);
  EXPECT_EQ(fs.largest_transfer, kWholeFileChunkBytes);
  fs.files[kPath] = "abc";
  fs.claimed_size = kMaxWholeFileBytes;  // read up to the limit, or what there is
  std::string text, message;
  ASSERT_TRUE(ReadWholeFile(fs, kPath, &text));
  EXPECT_EQ(text, "abc");
  fs.claimed_size = kMaxWholeFileBytes + 1;
  EXPECT_FALSE(ReadWholeFile(fs, kPath, &text, &message));
  EXPECT_EQ(message, "文件过大，拒绝读取 " + kPath);
  // Each failure says why and leaves nothing open; a failed write leaves no
  // partial file. The call, its message, and what is left: the text read and
  // the number of files.
  const std::tuple<std::string, std::string, std::string> failures[] = {
      {"size", "无法获取文件大小 ", "1"},
      {"read", "读取文件失败 ", "1"},
      {"create", "无法写入文件 ", "stale1"},
      {"write", "写入文件失败 ", "stale0"}};
  for (const auto& [call, why, left] : failures) {
    FakeFileSystem failing;
    failing.files[kPath] = "abc";
    failing.errors[call + " " + kPath] = 5;
    text = "stale";
    const bool write = call == "create" || call == "write";
    EXPECT_FALSE(write ? WriteWholeFile(failing, kPath, std::string("x"), &message)
                       : ReadWholeFile(failing, kPath, &text, &message));
    EXPECT_EQ(message, why + kPath + "（错误码 5）");
    EXPECT_EQ(text + std::to_string(failing.files.size()), left);
    EXPECT_EQ(failing.open_handles, 0);
  }
}

// GetTickCount64 moves in steps of 10-16 ms: launches within one step, also
// from two threads, get successive ticks.
TEST(TempNameTest, NamesAndTicksUniqueAcrossThreads) {
  EXPECT_EQ(TempName("C:\\T\\", "vek_tool_reset_", 4242, 18446744073709551615ull, ".txt"),
            "C:\\T\\vek_tool_reset_4242_18446744073709551615.txt");
  const uint64_t now = NextTempNameTick(0) + 100;
  EXPECT_EQ(NextTempNameTick(now), now);
  uint64_t other = 0;
  std::thread thread([&] { other = NextTempNameTick(now); });
  const uint64_t mine = NextTempNameTick(now);
  thread.join();
  EXPECT_EQ(std::set<uint64_t>({mine, other}), std::set<uint64_t>({now + 1, now + 2}));
}

}  // namespace
}  // namespace vek_native
