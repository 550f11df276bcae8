#include "channels/byte_streams.h"

#include <cstring>
#include <iostream>

namespace vek_native {

void ReportInvalidRead() {
  std::cerr << "Invalid read in StandardCodecByteStreamReader" << std::endl;
}

namespace {

// The wire is little-endian whatever the host is, so values are assembled and
// taken apart byte by byte.
// A short read reports itself and leaves `bytes` zero, so the caller's
// destination is assigned 0 rather than garbage.
uint64_t ReadLittleEndian(ByteStreamReader& reader, size_t width) {
  uint8_t bytes[sizeof(uint64_t)] = {};
  reader.ReadBytes(bytes, width);
  uint64_t value = 0;
  for (size_t i = width; i > 0; --i) value = (value << 8) | bytes[i - 1];
  return value;
}

void WriteLittleEndian(ByteStreamWriter& writer, uint64_t value, size_t width) {
  uint8_t bytes[sizeof(uint64_t)];
  for (size_t i = 0; i < width; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  writer.WriteBytes(bytes, width);
}

}  // namespace

uint16_t ByteStreamReader::ReadInt16() { return static_cast<uint16_t>(ReadLittleEndian(*this, 2)); }

int32_t ByteStreamReader::ReadInt32() {
  return static_cast<int32_t>(static_cast<uint32_t>(ReadLittleEndian(*this, 4)));
}

int64_t ByteStreamReader::ReadInt64() { return static_cast<int64_t>(ReadLittleEndian(*this, 8)); }

double ByteStreamReader::ReadDouble() {
  uint64_t bits = ReadLittleEndian(*this, 8);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

float ByteStreamReader::ReadFloat() {
  uint32_t bits = static_cast<uint32_t>(ReadLittleEndian(*this, 4));
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

void ByteStreamWriter::WriteInt16(uint16_t value) { WriteLittleEndian(*this, value, 2); }

void ByteStreamWriter::WriteInt32(int32_t value) {
  WriteLittleEndian(*this, static_cast<uint32_t>(value), 4);
}

void ByteStreamWriter::WriteInt64(int64_t value) {
  WriteLittleEndian(*this, static_cast<uint64_t>(value), 8);
}

void ByteStreamWriter::WriteDouble(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  WriteLittleEndian(*this, bits, 8);
}

void ByteStreamWriter::WriteFloat(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  WriteLittleEndian(*this, bits, 4);
}

void ByteBufferStreamReader::ReadPastEnd() {
  ReportInvalidRead();
  read_past_end_ = true;
}

void ByteBufferStreamReader::ReadAlignment(uint8_t alignment) {
  if (alignment == 0) return;
  size_t mod = location_ % alignment;
  if (mod == 0) return;
  size_t padding = alignment - mod;
  if (padding > size_ - location_) {
    // Padding cut short by the end of the message: nothing meaningful follows.
    ReadPastEnd();
    location_ = size_;
    return;
  }
  location_ += padding;
}

void ByteBufferStreamWriter::WriteBytes(const uint8_t* bytes, size_t length) {
  if (length == 0) return;
  bytes_->insert(bytes_->end(), bytes, bytes + length);
}

void ByteBufferStreamWriter::WriteAlignment(uint8_t alignment) {
  if (alignment == 0) return;
  size_t mod = bytes_->size() % alignment;
  if (mod != 0) bytes_->insert(bytes_->end(), alignment - mod, 0);
}

}  // namespace vek_native
