#include "frame_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vek_native {
namespace {

TEST(FrameCodecTest, EncodesTheDocumentedLayout) {
  const Frame frame{FrameKind::kMessageWithReply, 0x01020304, "ab", {9, 8}};
  const std::vector<uint8_t> expected = {11, 0, 0, 0, 2, 4, 3, 2, 1, 2, 0, 'a', 'b', 9, 8};
  EXPECT_EQ(EncodeFrame(frame), expected);
}

TEST(FrameCodecTest, RoundTripsWhateverTheSplit) {
  std::vector<uint8_t> stream;
  const std::vector<Frame> frames = {
      {FrameKind::kMessage, 0, "vek_tool/native_events", {1, 2, 3}},
      {FrameKind::kResponse, 77, "", {}},
      {FrameKind::kMessageWithReply, 5, "vek_tool/native", std::vector<uint8_t>(70000, 0xAB)},
  };
  for (const Frame& f : frames) {
    const auto bytes = EncodeFrame(f);
    stream.insert(stream.end(), bytes.begin(), bytes.end());
  }
  for (size_t piece : {size_t{1}, size_t{7}, size_t{4096}, stream.size()}) {
    FrameReader reader;
    std::vector<Frame> got;
    for (size_t offset = 0; offset < stream.size(); offset += piece) {
      reader.Append(stream.data() + offset, std::min(piece, stream.size() - offset));
      Frame frame;
      std::string error;
      FrameReader::Status status;
      while ((status = reader.Next(&frame, &error)) == FrameReader::Status::kFrame) {
        got.push_back(frame);
      }
      ASSERT_EQ(status, FrameReader::Status::kNeedMore) << error;
    }
    ASSERT_EQ(got.size(), frames.size()) << piece;
    for (size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(got[i].kind, frames[i].kind);
      EXPECT_EQ(got[i].id, frames[i].id);
      EXPECT_EQ(got[i].channel, frames[i].channel);
      EXPECT_EQ(got[i].payload, frames[i].payload);
    }
  }
}

TEST(FrameCodecTest, RefusesMalformedStreams) {
  const std::vector<std::vector<uint8_t>> bad = {
      {6, 0, 0, 0, 1, 0, 0, 0, 0, 0},          // body shorter than its header
      {0xFF, 0xFF, 0xFF, 0xFF},                // body beyond the limit
      {7, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0},       // unknown kind
      {8, 0, 0, 0, 1, 0, 0, 0, 0, 2, 0, 'a'},  // channel runs past the body
  };
  for (const auto& bytes : bad) {
    FrameReader reader;
    reader.Append(bytes.data(), bytes.size());
    Frame frame;
    std::string error;
    EXPECT_EQ(reader.Next(&frame, &error), FrameReader::Status::kMalformed);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(reader.Next(&frame, &error), FrameReader::Status::kMalformed);
  }
}

TEST(FrameCodecTest, UnrepresentableChannelEncodesToNothing) {
  Frame frame;
  frame.channel.assign(70000, 'c');
  EXPECT_TRUE(EncodeFrame(frame).empty());
}

}  // namespace
}  // namespace vek_native
