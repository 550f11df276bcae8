// The engine stand-in's framing, split anywhere (the end-to-end tests' driver
// writes and reads the same frames independently).
#include "frame_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vek_native {
namespace {

TEST(FrameCodecTest, EncodesTheLayoutAndReadsItBackWhateverTheSplit) {
  const std::vector<uint8_t> bytes = {11, 0, 0, 0, 2, 4, 3, 2, 1, 2, 0, 'a', 'b', 9, 8};
  EXPECT_EQ(EncodeFrame({FrameKind::kMessageWithReply, 0x01020304, "ab", {9, 8}}), bytes);
  EXPECT_TRUE(EncodeFrame({FrameKind::kMessage, 0, std::string(70000, 'c'), {}}).empty());
  std::vector<uint8_t> stream = bytes;
  const auto big = EncodeFrame({FrameKind::kResponse, 7, "", std::vector<uint8_t>(70000, 1)});
  stream.insert(stream.end(), big.begin(), big.end());
  for (size_t piece : {size_t{1}, size_t{4096}, stream.size()}) {
    FrameReader reader;
    std::vector<uint8_t> again;
    Frame frame;
    std::string error;
    for (size_t offset = 0; offset < stream.size(); offset += piece) {
      reader.Append(stream.data() + offset, std::min(piece, stream.size() - offset));
      FrameReader::Status status;
      while ((status = reader.Next(&frame, &error)) == FrameReader::Status::kFrame) {
        const auto encoded = EncodeFrame(frame);
        again.insert(again.end(), encoded.begin(), encoded.end());
      }
      ASSERT_EQ(status, FrameReader::Status::kNeedMore) << error;
    }
    EXPECT_EQ(again, stream) << piece;
  }
}

}  // namespace
}  // namespace vek_native
