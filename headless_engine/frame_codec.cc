#include "frame_codec.h"

namespace vek_native {
namespace {

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

std::vector<uint8_t> EncodeFrame(const Frame& frame) {
  if (frame.channel.size() > 0xFFFF) return {};
  const size_t body = kFrameHeaderSize - 4 + frame.channel.size() + frame.payload.size();
  if (body > kMaxFrameBody) return {};
  std::vector<uint8_t> out;
  out.reserve(4 + body);
  PutU32(out, static_cast<uint32_t>(body));
  out.push_back(static_cast<uint8_t>(frame.kind));
  PutU32(out, frame.id);
  out.push_back(static_cast<uint8_t>(frame.channel.size()));
  out.push_back(static_cast<uint8_t>(frame.channel.size() >> 8));
  out.insert(out.end(), frame.channel.begin(), frame.channel.end());
  out.insert(out.end(), frame.payload.begin(), frame.payload.end());
  return out;
}

void FrameReader::Append(const uint8_t* data, size_t size) {
  if (failed_ || size == 0) return;
  // Drop what was already handed out before growing the buffer.
  if (consumed_ > 0) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(consumed_));
    consumed_ = 0;
  }
  buffer_.insert(buffer_.end(), data, data + size);
}

FrameReader::Status FrameReader::Next(Frame* frame, std::string* error) {
  if (failed_) {
    *error = "frame stream already failed";
    return Status::kMalformed;
  }
  const size_t available = buffer_.size() - consumed_;
  if (available < 4) return Status::kNeedMore;
  const uint8_t* p = buffer_.data() + consumed_;
  const uint32_t body = GetU32(p);
  if (body < kFrameHeaderSize - 4 || body > kMaxFrameBody) {
    failed_ = true;
    *error = "frame body length " + std::to_string(body) + " out of range";
    return Status::kMalformed;
  }
  if (available - 4 < body) return Status::kNeedMore;
  const uint8_t kind = p[4];
  if (kind < 1 || kind > 3) {
    failed_ = true;
    *error = "unknown frame kind " + std::to_string(kind);
    return Status::kMalformed;
  }
  const size_t channel_size = static_cast<size_t>(p[9]) | (static_cast<size_t>(p[10]) << 8);
  if (channel_size > body - (kFrameHeaderSize - 4)) {
    failed_ = true;
    *error = "channel name longer than its frame";
    return Status::kMalformed;
  }
  frame->kind = static_cast<FrameKind>(kind);
  frame->id = GetU32(p + 5);
  const uint8_t* channel = p + kFrameHeaderSize;
  frame->channel.assign(reinterpret_cast<const char*>(channel), channel_size);
  frame->payload.assign(channel + channel_size, p + 4 + body);
  consumed_ += 4 + static_cast<size_t>(body);
  return Status::kFrame;
}

}  // namespace vek_native
