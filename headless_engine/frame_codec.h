// The framed records the headless engine exchanges with its driver over the
// process's standard input and output (layout in the README):
//
//   u32 LE  body length (everything after this field)
//   u8      kind: 1 message, 2 message awaiting a response, 3 response
//   u32 LE  id: 0 for kind 1; the sender's id for kind 2; for kind 3 the id of
//           the kind-2 message it answers
//   u16 LE  channel name length, then the UTF-8 channel name (empty for kind 3)
//   ...     payload: the channel message or response bytes (may be empty)
#ifndef VEK_HEADLESS_ENGINE_FRAME_CODEC_H_
#define VEK_HEADLESS_ENGINE_FRAME_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vek_native {

enum class FrameKind : uint8_t { kMessage = 1, kMessageWithReply = 2, kResponse = 3 };

struct Frame {
  FrameKind kind = FrameKind::kMessage;
  uint32_t id = 0;
  std::string channel;
  std::vector<uint8_t> payload;
};

// A body larger than this is refused: no channel message comes near it, so it
// can only be a corrupted stream.
constexpr uint32_t kMaxFrameBody = 64u * 1024u * 1024u;
constexpr size_t kFrameHeaderSize = 4 + 1 + 4 + 2;

// The complete record (length prefix included). Channel names longer than
// 65535 bytes are not representable and yield an empty vector.
std::vector<uint8_t> EncodeFrame(const Frame& frame);

// Splits a byte stream into frames; bytes may arrive in any pieces.
class FrameReader {
 public:
  enum class Status { kNeedMore, kFrame, kMalformed };

  void Append(const uint8_t* data, size_t size);
  // kFrame fills *frame; kMalformed fills *error and the stream is unusable.
  Status Next(Frame* frame, std::string* error);

 private:
  std::vector<uint8_t> buffer_;
  size_t consumed_ = 0;
  bool failed_ = false;
};

}  // namespace vek_native

#endif  // VEK_HEADLESS_ENGINE_FRAME_CODEC_H_
