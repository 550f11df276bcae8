#include "capture/file_system.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "support/fake_file_system.h"

namespace vek_native {
namespace {

const std::string kPath = "C:\\T\\vek_tool_reset_1_2.txt";

TEST(ReadWholeFileTest, ReadsSmallEmptyAndChunkedFiles) {
  const std::string big(kWholeFileChunkBytes + 5, 'x');
  for (const std::string& content : {std::string("success=1\n"), std::string(), big}) {
    FakeFileSystem fs;
    fs.files[kPath] = content;
    std::string text = "stale";
    std::string message;
    ASSERT_TRUE(ReadWholeFile(fs, kPath, &text, &message));
    EXPECT_EQ(text, content);
    EXPECT_LE(fs.largest_read, kWholeFileChunkBytes);
    EXPECT_EQ(fs.open_handles, 0);
  }
}

TEST(ReadWholeFileTest, FailuresClearTheOutputAndSayWhy) {
  struct Case {
    const char* name;
    void (*setup)(FakeFileSystem&);
    std::string message;
  };
  const Case cases[] = {
      {"missing", [](FakeFileSystem& fs) { fs.files.erase(kPath); },
       "无法读取文件 " + kPath + "（错误码 2）"},
      {"open denied", [](FakeFileSystem& fs) { fs.open_errors[kPath] = 5; },
       "无法读取文件 " + kPath + "（错误码 5）"},
      {"size", [](FakeFileSystem& fs) { fs.size_errors[kPath] = 6; },
       "无法获取文件大小 " + kPath + "（错误码 6）"},
      {"600 MiB", [](FakeFileSystem& fs) { fs.reported_sizes[kPath] = 600ull << 20; },
       "文件过大，拒绝读取 " + kPath},
      {"read fails half-way",
       [](FakeFileSystem& fs) {
         fs.files[kPath] = std::string(kWholeFileChunkBytes + 10, 'y');
         fs.read_errors[kPath] = kWholeFileChunkBytes;
       },
       "读取文件失败 " + kPath + "（错误码 30）"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFileSystem fs;
    fs.files[kPath] = "abc";
    c.setup(fs);
    std::vector<uint8_t> bytes = {1, 2, 3};
    std::string message;
    EXPECT_FALSE(ReadWholeFile(fs, kPath, &bytes, &message));
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(fs.open_handles, 0);
    // No message wanted: still fails cleanly.
    EXPECT_FALSE(ReadWholeFile(fs, kPath, &bytes));
  }
}

TEST(ReadWholeFileTest, RefusesOversizedFileBeforeReading) {
  FakeFileSystem fs;
  fs.files[kPath] = "abc";
  fs.reported_sizes[kPath] = kMaxWholeFileBytes + 1;
  std::string text;
  EXPECT_FALSE(ReadWholeFile(fs, kPath, &text));
  EXPECT_EQ(fs.read_calls, 0);

  // Exactly the limit is read; a file that shrank gives what was there.
  fs.reported_sizes[kPath] = kMaxWholeFileBytes;
  ASSERT_TRUE(ReadWholeFile(fs, kPath, &text));
  EXPECT_EQ(text, "abc");
}

TEST(WriteWholeFileTest, WritesWholeAndEmptyFilesInChunks) {
  const std::string big(2 * kWholeFileChunkBytes + 1, 'z');
  for (const std::string& content : {std::string("a=1\n"), std::string(), big}) {
    FakeFileSystem fs;
    fs.files[kPath] = "old content that is longer";
    ASSERT_TRUE(WriteWholeFile(fs, kPath, content));
    ASSERT_EQ(fs.files.count(kPath), 1u);
    EXPECT_EQ(fs.files[kPath], content);
    EXPECT_LE(fs.largest_write, kWholeFileChunkBytes);
    EXPECT_EQ(fs.open_handles, 0);
  }
}

TEST(WriteWholeFileTest, FailuresSayWhyAndLeaveNoPartialFile) {
  FakeFileSystem fs;
  fs.create_errors[kPath] = 5;
  std::string message;
  EXPECT_FALSE(WriteWholeFile(fs, kPath, std::string("x"), &message));
  EXPECT_EQ(message, "无法写入文件 " + kPath + "（错误码 5）");

  fs.create_errors.clear();
  fs.write_fail_after[kPath] = kWholeFileChunkBytes;
  const std::vector<uint8_t> bytes(kWholeFileChunkBytes + 1, 7);
  EXPECT_FALSE(WriteWholeFile(fs, kPath, bytes, &message));
  EXPECT_EQ(message, "写入文件失败 " + kPath + "（错误码 112）");
  EXPECT_EQ(fs.files.count(kPath), 0u);
  EXPECT_EQ(fs.open_handles, 0);
}

TEST(TempNameTest, JoinsDirectoryPrefixProcessAndTick) {
  EXPECT_EQ(TempName("C:\\T\\", "vek_tool_reset_", 4242, 18446744073709551615ull, ".txt"),
            "C:\\T\\vek_tool_reset_4242_18446744073709551615.txt");
  EXPECT_EQ(TempName("C:\\T\\", "vek_tool_usbcap_", 1, 0, ""), "C:\\T\\vek_tool_usbcap_1_0");
}

TEST(TempNameTest, TicksAreUniqueWithinTheProcess) {
  const uint64_t a = NextTempNameTick(5);
  const uint64_t b = NextTempNameTick(5);
  EXPECT_GT(b, a);
  EXPECT_EQ(NextTempNameTick(b + 100), b + 100);
  EXPECT_EQ(NextTempNameTick(0), b + 101);
}

TEST(TempNameTest, ConcurrentLaunchesInOneTickGetDistinctTicks) {
  constexpr int kPerThread = 2000;
  std::vector<uint64_t> first(kPerThread), second(kPerThread);
  const uint64_t now = NextTempNameTick(0);
  std::thread a([&] {
    for (auto& t : first) t = NextTempNameTick(now);
  });
  std::thread b([&] {
    for (auto& t : second) t = NextTempNameTick(now);
  });
  a.join();
  b.join();
  std::set<uint64_t> all(first.begin(), first.end());
  all.insert(second.begin(), second.end());
  EXPECT_EQ(all.size(), 2u * kPerThread);
}

}  // namespace
}  // namespace vek_native
