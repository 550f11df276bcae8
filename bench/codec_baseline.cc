// Baseline copy of the standard codec (byte streams, serializer, message and
// method codecs) from before the bulk-write and map-hint changes; see
// codec_baseline.h. Do not improve this file: it is the yardstick.
#include "codec_baseline.h"

#include <cstring>
#include <iostream>
#include <utility>

namespace vek_native {
namespace codec_baseline {
namespace {

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

// Reads a byte span; positions (and so alignment) count from its start.
class ByteBufferStreamReader : public ByteStreamReader {
 public:
  ByteBufferStreamReader(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}

  uint8_t ReadByte() override;
  void ReadBytes(uint8_t* buffer, size_t length) override;
  void ReadAlignment(uint8_t alignment) override;
  size_t BytesRemaining() const override { return size_ - location_; }
  // True once any read ran past the end (the message was truncated).
  bool read_past_end() const { return read_past_end_; }

 private:
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

void ReportInvalidRead() {
  std::cerr << "Invalid read in StandardCodecByteStreamReader" << std::endl;
}

namespace {

// The wire is little-endian whatever the host is, so values are assembled and
// taken apart byte by byte.
// A short read reports itself and leaves `bytes` zero, so the caller's
// destination is assigned 0 rather than garbage.
uint64_t ReadLittleEndian(ByteStreamReader& reader, size_t width) {
  uint8_t bytes[8] = {};
  reader.ReadBytes(bytes, width);
  uint64_t value = 0;
  for (size_t i = width; i > 0; --i) value = (value << 8) | bytes[i - 1];
  return value;
}

void WriteLittleEndian(ByteStreamWriter& writer, uint64_t value, size_t width) {
  uint8_t bytes[8];
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
  double value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

float ByteStreamReader::ReadFloat() {
  uint32_t bits = static_cast<uint32_t>(ReadLittleEndian(*this, 4));
  float value = 0;
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
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  WriteLittleEndian(*this, bits, 8);
}

void ByteStreamWriter::WriteFloat(float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  WriteLittleEndian(*this, bits, 4);
}

uint8_t ByteBufferStreamReader::ReadByte() {
  if (location_ >= size_) {
    ReportInvalidRead();
    read_past_end_ = true;
    return 0;
  }
  return bytes_[location_++];
}

void ByteBufferStreamReader::ReadBytes(uint8_t* buffer, size_t length) {
  if (length > size_ - location_) {
    ReportInvalidRead();
    read_past_end_ = true;
    return;
  }
  if (length == 0) return;
  std::memcpy(buffer, bytes_ + location_, length);
  location_ += length;
}

void ByteBufferStreamReader::ReadAlignment(uint8_t alignment) {
  if (alignment == 0) return;
  size_t mod = location_ % alignment;
  if (mod == 0) return;
  size_t padding = alignment - mod;
  if (padding > size_ - location_) {
    // Padding cut short by the end of the message: nothing meaningful follows.
    ReportInvalidRead();
    read_past_end_ = true;
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

// Writes and reads single values. One shared instance; it keeps no state
// between calls, so it is safe on any thread.
class StandardCodecSerializer {
 public:
  // Nesting deeper than this in an incoming message is refused: no channel
  // message comes near it, and unbounded recursion on hostile input would
  // overflow the stack.
  static constexpr int kMaxNestingDepth = 256;

  static const StandardCodecSerializer& GetInstance();

  StandardCodecSerializer(const StandardCodecSerializer&) = delete;
  StandardCodecSerializer& operator=(const StandardCodecSerializer&) = delete;
  ~StandardCodecSerializer() = default;

  // Reads one value (tag and payload). Malformed input never makes it read,
  // allocate or loop beyond what the stream holds; it reports on standard
  // error and yields what it could read.
  EncodableValue ReadValue(ByteStreamReader* stream) const;
  void WriteValue(const EncodableValue& value, ByteStreamWriter* stream) const;

  // Sizes: below 254 one byte; up to 0xFFFF 254 and 2 bytes; else 255 and 4.
  size_t ReadSize(ByteStreamReader* stream) const;
  void WriteSize(size_t size, ByteStreamWriter* stream) const;

 private:
  StandardCodecSerializer() = default;
  struct ReadState;
  EncodableValue ReadValueAtDepth(ByteStreamReader* stream, ReadState* state) const;
  EncodableValue ReadValueOfTypeAtDepth(uint8_t type, ByteStreamReader* stream,
                                        ReadState* state) const;
};

// Whole messages: one value per message.
class StandardMessageCodec {
 public:
  static const StandardMessageCodec& GetInstance();

  std::unique_ptr<std::vector<uint8_t>> EncodeMessage(const EncodableValue& message) const;
  // An empty message is null, without a diagnostic.
  std::unique_ptr<EncodableValue> DecodeMessage(const uint8_t* message, size_t size) const;

 private:
  StandardMessageCodec() = default;
};

// Method calls and their reply envelopes.
class StandardMethodCodec {
 public:
  static const StandardMethodCodec& GetInstance();

  StandardMethodCodec(const StandardMethodCodec&) = delete;
  StandardMethodCodec& operator=(const StandardMethodCodec&) = delete;
  ~StandardMethodCodec() = default;

  std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelope(
      const EncodableValue* result = nullptr) const;
  // A reply envelope: true and *result on success; false and the error parts
  // on an error envelope or bad bytes (then the code is empty and the message
  // says what is wrong). Any out-parameter may be nullptr.
  bool DecodeResponseEnvelope(const uint8_t* response, size_t size, EncodableValue* result,
                              std::string* error_code, std::string* error_message,
                              EncodableValue* error_details) const;

 private:
  StandardMethodCodec() = default;
};

namespace {

enum Tag : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLargeInt = 5,
  kFloat64 = 6,
  kString = 7,
  kUInt8List = 8,
  kInt32List = 9,
  kInt64List = 10,
  kFloat64List = 11,
  kList = 12,
  kMap = 13,
  kFloat32List = 14,
};

// Reads `count` fixed-width elements after the alignment padding. The padding
// is read even for an empty list: the user interface's codec always writes it,
// and skipping it would shift every value that follows.
template <typename T>
std::vector<T> ReadTypedList(ByteStreamReader* stream, size_t count, uint8_t alignment,
                             T (ByteStreamReader::*read_element)()) {
  stream->ReadAlignment(alignment);
  std::vector<T> list;
  if (count > stream->BytesRemaining() / sizeof(T)) {
    ReportInvalidRead();
    return list;
  }
  list.reserve(count);
  for (size_t i = 0; i < count; ++i) list.push_back((stream->*read_element)());
  return list;
}

template <typename T>
void WriteTypedList(const std::vector<T>& list, uint8_t alignment, ByteStreamWriter* stream,
                    void (ByteStreamWriter::*write_element)(T)) {
  stream->WriteAlignment(alignment);
  for (T element : list) (stream->*write_element)(element);
}

void WriteString(const StandardCodecSerializer& serializer, const std::string& text,
                 ByteStreamWriter* stream) {
  serializer.WriteSize(text.size(), stream);
  stream->WriteBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

}  // namespace

struct StandardCodecSerializer::ReadState {
  int depth = 0;
  // Set when the message was refused part-way; everything after reads null.
  bool abandoned = false;
};

const StandardCodecSerializer& StandardCodecSerializer::GetInstance() {
  static const StandardCodecSerializer instance;
  return instance;
}

EncodableValue StandardCodecSerializer::ReadValue(ByteStreamReader* stream) const {
  ReadState state;
  return ReadValueAtDepth(stream, &state);
}

EncodableValue StandardCodecSerializer::ReadValueAtDepth(ByteStreamReader* stream,
                                                         ReadState* state) const {
  if (state->abandoned) return EncodableValue();
  return ReadValueOfTypeAtDepth(stream->ReadByte(), stream, state);
}

EncodableValue StandardCodecSerializer::ReadValueOfTypeAtDepth(uint8_t type,
                                                               ByteStreamReader* stream,
                                                               ReadState* state) const {
  switch (type) {
    case kNull:
      return EncodableValue();
    case kTrue:
      return EncodableValue(true);
    case kFalse:
      return EncodableValue(false);
    case kInt32:
      return EncodableValue(stream->ReadInt32());
    case kInt64:
      return EncodableValue(stream->ReadInt64());
    case kFloat64:
      stream->ReadAlignment(8);
      return EncodableValue(stream->ReadDouble());
    case kLargeInt:
    case kString: {
      size_t size = ReadSize(stream);
      if (size > stream->BytesRemaining()) {
        ReportInvalidRead();
        return EncodableValue(std::string());
      }
      std::string text(size, '\0');
      if (size > 0) stream->ReadBytes(reinterpret_cast<uint8_t*>(&text[0]), size);
      return EncodableValue(std::move(text));
    }
    case kUInt8List: {
      size_t size = ReadSize(stream);
      if (size > stream->BytesRemaining()) {
        ReportInvalidRead();
        return EncodableValue(std::vector<uint8_t>());
      }
      std::vector<uint8_t> bytes(size);
      stream->ReadBytes(bytes.data(), size);
      return EncodableValue(std::move(bytes));
    }
    case kInt32List: {
      size_t count = ReadSize(stream);
      return EncodableValue(ReadTypedList<int32_t>(stream, count, 4, &ByteStreamReader::ReadInt32));
    }
    case kInt64List: {
      size_t count = ReadSize(stream);
      return EncodableValue(ReadTypedList<int64_t>(stream, count, 8, &ByteStreamReader::ReadInt64));
    }
    case kFloat64List: {
      size_t count = ReadSize(stream);
      return EncodableValue(ReadTypedList<double>(stream, count, 8, &ByteStreamReader::ReadDouble));
    }
    case kFloat32List: {
      size_t count = ReadSize(stream);
      return EncodableValue(ReadTypedList<float>(stream, count, 4, &ByteStreamReader::ReadFloat));
    }
    case kList:
    case kMap: {
      size_t count = ReadSize(stream);
      if (state->depth >= kMaxNestingDepth) {
        std::cerr << "Invalid message in StandardCodecSerializer::ReadValue: nesting deeper than "
                  << kMaxNestingDepth << " levels" << std::endl;
        state->abandoned = true;
        return EncodableValue();
      }
      // Every element takes at least one byte, every map entry two; a count
      // the rest of the message cannot hold is a lie, not a reason to loop.
      size_t min_bytes_per_item = type == kList ? 1 : 2;
      if (count > stream->BytesRemaining() / min_bytes_per_item) {
        ReportInvalidRead();
        return type == kList ? EncodableValue(EncodableList()) : EncodableValue(EncodableMap());
      }
      ++state->depth;
      EncodableValue result;
      if (type == kList) {
        EncodableList list;
        list.reserve(count);
        for (size_t i = 0; i < count && !state->abandoned; ++i) {
          list.push_back(ReadValueAtDepth(stream, state));
        }
        result = std::move(list);
      } else {
        EncodableMap map;
        for (size_t i = 0; i < count && !state->abandoned; ++i) {
          EncodableValue key = ReadValueAtDepth(stream, state);
          EncodableValue value = ReadValueAtDepth(stream, state);
          map.emplace(std::move(key), std::move(value));
        }
        result = std::move(map);
      }
      --state->depth;
      return result;
    }
    default:
      std::cerr << "Unknown type in StandardCodecSerializer::ReadValueOfType: "
                << static_cast<int>(type) << std::endl;
      return EncodableValue();
  }
}

size_t StandardCodecSerializer::ReadSize(ByteStreamReader* stream) const {
  uint8_t byte = stream->ReadByte();
  if (byte < 254) return byte;
  if (byte == 254) return stream->ReadInt16();
  return static_cast<uint32_t>(stream->ReadInt32());
}

void StandardCodecSerializer::WriteSize(size_t size, ByteStreamWriter* stream) const {
  if (size < 254) {
    stream->WriteByte(static_cast<uint8_t>(size));
  } else if (size <= 0xFFFF) {
    stream->WriteByte(254);
    stream->WriteInt16(static_cast<uint16_t>(size));
  } else {
    stream->WriteByte(255);
    stream->WriteInt32(static_cast<int32_t>(static_cast<uint32_t>(size)));
  }
}

void StandardCodecSerializer::WriteValue(const EncodableValue& value,
                                         ByteStreamWriter* stream) const {
  // The tag follows the alternative only: an int64 that would fit 32 bits is
  // still written as an int64.
  switch (value.index()) {
    case 0:
      stream->WriteByte(kNull);
      break;
    case 1:
      stream->WriteByte(std::get<bool>(value) ? kTrue : kFalse);
      break;
    case 2:
      stream->WriteByte(kInt32);
      stream->WriteInt32(std::get<int32_t>(value));
      break;
    case 3:
      stream->WriteByte(kInt64);
      stream->WriteInt64(std::get<int64_t>(value));
      break;
    case 4:
      stream->WriteByte(kFloat64);
      stream->WriteAlignment(8);
      stream->WriteDouble(std::get<double>(value));
      break;
    case 5:
      stream->WriteByte(kString);
      WriteString(*this, std::get<std::string>(value), stream);
      break;
    case 6: {
      const auto& bytes = std::get<std::vector<uint8_t>>(value);
      stream->WriteByte(kUInt8List);
      WriteSize(bytes.size(), stream);
      stream->WriteBytes(bytes.data(), bytes.size());
      break;
    }
    case 7: {
      const auto& list = std::get<std::vector<int32_t>>(value);
      stream->WriteByte(kInt32List);
      WriteSize(list.size(), stream);
      WriteTypedList<int32_t>(list, 4, stream, &ByteStreamWriter::WriteInt32);
      break;
    }
    case 8: {
      const auto& list = std::get<std::vector<int64_t>>(value);
      stream->WriteByte(kInt64List);
      WriteSize(list.size(), stream);
      WriteTypedList<int64_t>(list, 8, stream, &ByteStreamWriter::WriteInt64);
      break;
    }
    case 9: {
      const auto& list = std::get<std::vector<double>>(value);
      stream->WriteByte(kFloat64List);
      WriteSize(list.size(), stream);
      WriteTypedList<double>(list, 8, stream, &ByteStreamWriter::WriteDouble);
      break;
    }
    case 10: {
      const auto& list = std::get<EncodableList>(value);
      stream->WriteByte(kList);
      WriteSize(list.size(), stream);
      for (const EncodableValue& element : list) WriteValue(element, stream);
      break;
    }
    case 11: {
      const auto& map = std::get<EncodableMap>(value);
      stream->WriteByte(kMap);
      WriteSize(map.size(), stream);
      for (const auto& entry : map) {
        WriteValue(entry.first, stream);
        WriteValue(entry.second, stream);
      }
      break;
    }
    case 12:
      stream->WriteByte(kNull);
      std::cerr << "Unhandled custom type in StandardCodecSerializer::WriteValue. "
                << "Custom types require codec extensions." << std::endl;
      break;
    case 13: {
      const auto& list = std::get<std::vector<float>>(value);
      stream->WriteByte(kFloat32List);
      WriteSize(list.size(), stream);
      WriteTypedList<float>(list, 4, stream, &ByteStreamWriter::WriteFloat);
      break;
    }
    default:
      // valueless_by_exception: nothing sensible to send.
      stream->WriteByte(kNull);
      break;
  }
}

const StandardMessageCodec& StandardMessageCodec::GetInstance() {
  static const StandardMessageCodec instance;
  return instance;
}

std::unique_ptr<std::vector<uint8_t>> StandardMessageCodec::EncodeMessage(
    const EncodableValue& message) const {
  auto encoded = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter stream(encoded.get());
  StandardCodecSerializer::GetInstance().WriteValue(message, &stream);
  return encoded;
}

std::unique_ptr<EncodableValue> StandardMessageCodec::DecodeMessage(const uint8_t* message,
                                                                    size_t size) const {
  if (size == 0) return std::make_unique<EncodableValue>();
  ByteBufferStreamReader stream(message, size);
  return std::make_unique<EncodableValue>(
      StandardCodecSerializer::GetInstance().ReadValue(&stream));
}

const StandardMethodCodec& StandardMethodCodec::GetInstance() {
  static const StandardMethodCodec instance;
  return instance;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeSuccessEnvelope(
    const EncodableValue* result) const {
  const StandardCodecSerializer& serializer = StandardCodecSerializer::GetInstance();
  auto encoded = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter stream(encoded.get());
  stream.WriteByte(0);
  if (result != nullptr) {
    serializer.WriteValue(*result, &stream);
  } else {
    serializer.WriteValue(EncodableValue(), &stream);
  }
  return encoded;
}

bool StandardMethodCodec::DecodeResponseEnvelope(const uint8_t* response, size_t size,
                                                 EncodableValue* result, std::string* error_code,
                                                 std::string* error_message,
                                                 EncodableValue* error_details) const {
  auto bad_bytes = [&](const char* why) {
    if (error_code != nullptr) error_code->clear();
    if (error_message != nullptr) *error_message = why;
    if (error_details != nullptr) *error_details = EncodableValue();
    return false;
  };
  if (size == 0) return bad_bytes("empty reply (method not implemented)");
  const StandardCodecSerializer& serializer = StandardCodecSerializer::GetInstance();
  ByteBufferStreamReader stream(response, size);
  uint8_t flag = stream.ReadByte();
  if (flag == 0) {
    if (stream.BytesRemaining() == 0) return bad_bytes("success envelope without a value");
    EncodableValue value = serializer.ReadValue(&stream);
    if (stream.read_past_end()) return bad_bytes("truncated success envelope");
    if (stream.BytesRemaining() != 0) return bad_bytes("bytes after the success envelope");
    if (result != nullptr) *result = std::move(value);
    return true;
  }
  if (flag != 1) return bad_bytes("unknown reply envelope");
  EncodableValue code = serializer.ReadValue(&stream);
  if (stream.BytesRemaining() == 0) return bad_bytes("truncated error envelope");
  EncodableValue message = serializer.ReadValue(&stream);
  if (stream.BytesRemaining() == 0) return bad_bytes("truncated error envelope");
  EncodableValue details = serializer.ReadValue(&stream);
  // Dart may append the stack trace as a fourth string.
  if (stream.BytesRemaining() > 0) {
    EncodableValue stack_trace = serializer.ReadValue(&stream);
    if (!std::holds_alternative<std::string>(stack_trace)) {
      return bad_bytes("bytes after the error envelope");
    }
  }
  const auto* code_text = std::get_if<std::string>(&code);
  const auto* message_text = std::get_if<std::string>(&message);
  if (stream.read_past_end() || code_text == nullptr ||
      (message_text == nullptr && !message.IsNull()) || stream.BytesRemaining() != 0) {
    return bad_bytes("malformed error envelope");
  }
  if (error_code != nullptr) *error_code = *code_text;
  if (error_message != nullptr) *error_message = message_text ? *message_text : std::string();
  if (error_details != nullptr) *error_details = std::move(details);
  return false;
}

}  // namespace

std::unique_ptr<std::vector<uint8_t>> EncodeMessage(const EncodableValue& message) {
  return StandardMessageCodec::GetInstance().EncodeMessage(message);
}

std::unique_ptr<EncodableValue> DecodeMessage(const uint8_t* message, size_t size) {
  return StandardMessageCodec::GetInstance().DecodeMessage(message, size);
}

std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelope(const EncodableValue* result) {
  return StandardMethodCodec::GetInstance().EncodeSuccessEnvelope(result);
}

bool DecodeResponseEnvelope(const uint8_t* response, size_t size, EncodableValue* result,
                            std::string* error_code, std::string* error_message,
                            EncodableValue* error_details) {
  return StandardMethodCodec::GetInstance().DecodeResponseEnvelope(
      response, size, result, error_code, error_message, error_details);
}

}  // namespace codec_baseline
}  // namespace vek_native
