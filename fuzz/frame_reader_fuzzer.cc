// The headless engine's reader of driver frames: any byte stream, fed in two
// pieces, must end in frames, a wait for more, or a clean refusal.
#include <cstddef>
#include <cstdint>
#include <string>

#include "frame_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using vek_native::Frame;
  using vek_native::FrameReader;
  FrameReader reader;
  const size_t split = size > 0 ? data[0] % (size + 1) : 0;
  reader.Append(data, split);
  Frame frame;
  std::string error;
  while (reader.Next(&frame, &error) == FrameReader::Status::kFrame) {
  }
  reader.Append(data + split, size - split);
  while (reader.Next(&frame, &error) == FrameReader::Status::kFrame) {
    // Whatever came out must encode back to a well-formed record.
    if (vek_native::EncodeFrame(frame).size() < vek_native::kFrameHeaderSize) __builtin_trap();
  }
  return 0;
}
