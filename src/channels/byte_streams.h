// Byte streams the standard codec reads from and writes to.
#ifndef VEK_CHANNELS_BYTE_STREAMS_H_
#define VEK_CHANNELS_BYTE_STREAMS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vek_native {

// Writes "Invalid read in StandardCodecByteStreamReader" to standard error.
void ReportInvalidRead();

// Reads a message. A read past the end writes "Invalid read in
// StandardCodecByteStreamReader" to standard error: a byte read then yields 0
// and a multi-byte read leaves its destination untouched.
class ByteStreamReader {
 public:
  ByteStreamReader() = default;
  virtual ~ByteStreamReader() = default;
  ByteStreamReader(const ByteStreamReader&) = delete;
  ByteStreamReader& operator=(const ByteStreamReader&) = delete;

  virtual uint8_t ReadByte() = 0;
  virtual void ReadBytes(uint8_t* buffer, size_t length) = 0;
  // Skips the padding that makes the position a multiple of `alignment`.
  virtual void ReadAlignment(uint8_t alignment) = 0;
  // Bytes left to read; decoders compare every declared length against it
  // before they allocate or loop.
  virtual size_t BytesRemaining() const = 0;

  uint16_t ReadInt16();
  int32_t ReadInt32();
  int64_t ReadInt64();
  double ReadDouble();
  float ReadFloat();
};

class ByteStreamWriter {
 public:
  ByteStreamWriter() = default;
  virtual ~ByteStreamWriter() = default;
  ByteStreamWriter(const ByteStreamWriter&) = delete;
  ByteStreamWriter& operator=(const ByteStreamWriter&) = delete;

  virtual void WriteByte(uint8_t byte) = 0;
  virtual void WriteBytes(const uint8_t* bytes, size_t length) = 0;
  // Writes zero bytes until the position is a multiple of `alignment`.
  virtual void WriteAlignment(uint8_t alignment) = 0;

  void WriteInt16(uint16_t value);
  void WriteInt32(int32_t value);
  void WriteInt64(int64_t value);
  void WriteDouble(double value);
  void WriteFloat(float value);
};

// Reads a byte span; positions (and so alignment) count from its start. Final,
// with the common reads inline: the codec reads whole messages through it
// without a virtual call per value.
class ByteBufferStreamReader final : public ByteStreamReader {
 public:
  ByteBufferStreamReader(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}

  uint8_t ReadByte() override {
    if (location_ >= size_) {
      ReadPastEnd();
      return 0;
    }
    return bytes_[location_++];
  }
  void ReadBytes(uint8_t* buffer, size_t length) override {
    if (length > size_ - location_) {
      ReadPastEnd();
      return;
    }
    if (length == 0) return;
    std::memcpy(buffer, bytes_ + location_, length);
    location_ += length;
  }
  // The next `length` bytes where they lie, moving past them; nullptr (a
  // short read, reported) when fewer remain. Lets a decoder build a string
  // from the message without an intermediate copy.
  const uint8_t* ReadSpan(size_t length) {
    if (length > size_ - location_) {
      ReadPastEnd();
      return nullptr;
    }
    const uint8_t* span = bytes_ + location_;
    location_ += length;
    return span;
  }
  void ReadAlignment(uint8_t alignment) override;
  size_t BytesRemaining() const override { return size_ - location_; }
  // True once any read ran past the end (the message was truncated).
  bool read_past_end() const { return read_past_end_; }

 private:
  void ReadPastEnd();

  const uint8_t* bytes_;
  size_t size_;
  size_t location_ = 0;
  bool read_past_end_ = false;
};

// Appends to a growable byte vector; alignment counts from the vector's start.
class ByteBufferStreamWriter : public ByteStreamWriter {
 public:
  explicit ByteBufferStreamWriter(std::vector<uint8_t>* buffer) : bytes_(buffer) {}

  void WriteByte(uint8_t byte) override { bytes_->push_back(byte); }
  void WriteBytes(const uint8_t* bytes, size_t length) override;
  void WriteAlignment(uint8_t alignment) override;

 private:
  std::vector<uint8_t>* bytes_;
};

}  // namespace vek_native

#endif  // VEK_CHANNELS_BYTE_STREAMS_H_
