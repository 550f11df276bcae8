#include "channels/standard_codec.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>

namespace vek_native {

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

// The wire is little-endian. On a little-endian host (every target of this
// program) a typed list goes as it lies in memory, in one piece; elsewhere
// element by element.
bool HostIsLittleEndian() {
  const uint16_t one = 1;
  uint8_t first;
  std::memcpy(&first, &one, 1);
  return first == 1;
}

// Writes a whole message into a byte vector through a cursor. The vector is
// grown ahead of the cursor (doubling; the room past it is zeros) and trimmed
// to the bytes written by Finish, so a write is a bounds check and a copy
// rather than a call into the vector per value.
class MessageWriter {
 public:
  // Enough for the frequent events and replies without growing.
  static constexpr size_t kInitialCapacity = 256;

  MessageWriter() : bytes_(std::make_unique<std::vector<uint8_t>>()) { Grow(kInitialCapacity); }

  void WriteByte(uint8_t byte) {
    if (position_ == end_) Grow(1);
    *position_++ = byte;
  }
  void WriteBytes(const uint8_t* bytes, size_t length) {
    if (length > static_cast<size_t>(end_ - position_)) Grow(length);
    if (length > 0) std::memcpy(position_, bytes, length);
    position_ += length;
  }
  // Alignment counts from the start of the message.
  void WriteAlignment(uint8_t alignment) {
    const size_t mod = Size() % alignment;
    if (mod == 0) return;
    const size_t padding = alignment - mod;
    if (padding > static_cast<size_t>(end_ - position_)) Grow(padding);
    std::memset(position_, 0, padding);
    position_ += padding;
  }

  std::unique_ptr<std::vector<uint8_t>> Finish() {
    bytes_->resize(Size());
    return std::move(bytes_);
  }

 private:
  size_t Size() const { return static_cast<size_t>(position_ - bytes_->data()); }

  void Grow(size_t needed) {
    const size_t used = bytes_->empty() ? 0 : Size();
    bytes_->resize(std::max(bytes_->size() * 2, used + needed));
    position_ = bytes_->data() + used;
    end_ = bytes_->data() + bytes_->size();
  }

  std::unique_ptr<std::vector<uint8_t>> bytes_;
  uint8_t* position_ = nullptr;
  uint8_t* end_ = nullptr;
};

// The value writer and reader are templates over the stream so that the
// codecs' own streams (the message writer, the final buffer reader) are called
// directly, without a virtual call per byte; the serializer's public functions
// instantiate them for any stream.
template <typename Writer>
void WriteFixed(uint64_t value, size_t width, Writer* stream) {
  uint8_t bytes[sizeof(uint64_t)];
  for (size_t i = 0; i < width; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  stream->WriteBytes(bytes, width);
}

// The unsigned integer of a 4- or 8-byte number's width.
template <typename T>
using Bits = typename std::conditional<sizeof(T) == 8, uint64_t, uint32_t>::type;

template <typename T, typename Writer>
void WriteNumber(T value, Writer* stream) {
  static_assert(sizeof(T) == 4 || sizeof(T) == 8, "fixed-width number");
  Bits<T> bits;
  std::memcpy(&bits, &value, sizeof value);
  WriteFixed(bits, sizeof value, stream);
}

template <typename Writer>
void WriteSizeTo(size_t size, Writer* stream) {
  if (size < 254) {
    stream->WriteByte(static_cast<uint8_t>(size));
  } else if (size <= 0xFFFF) {
    stream->WriteByte(254);
    WriteFixed(size, 2, stream);
  } else {
    stream->WriteByte(255);
    WriteFixed(static_cast<uint32_t>(size), 4, stream);
  }
}

// The padding is written even for an empty list, as the user interface's
// codec writes it.
template <typename T, typename Writer>
void WriteTypedList(uint8_t tag, const std::vector<T>& list, Writer* stream) {
  stream->WriteByte(tag);
  WriteSizeTo(list.size(), stream);
  stream->WriteAlignment(sizeof(T));
  if (HostIsLittleEndian()) {
    stream->WriteBytes(reinterpret_cast<const uint8_t*>(list.data()), list.size() * sizeof(T));
  } else {
    for (T element : list) WriteNumber(element, stream);
  }
}

template <typename Writer>
void WriteString(const std::string& text, Writer* stream) {
  stream->WriteByte(kString);
  WriteSizeTo(text.size(), stream);
  stream->WriteBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// The tag follows the alternative only: an int64 that would fit 32 bits is
// still written as an int64.
template <typename Writer>
void WriteValueTo(const EncodableValue& value, Writer* stream) {
  switch (value.index()) {
    case 0:
      stream->WriteByte(kNull);
      break;
    case 1:
      stream->WriteByte(std::get<bool>(value) ? kTrue : kFalse);
      break;
    case 2:
      stream->WriteByte(kInt32);
      WriteNumber(std::get<int32_t>(value), stream);
      break;
    case 3:
      stream->WriteByte(kInt64);
      WriteNumber(std::get<int64_t>(value), stream);
      break;
    case 4:
      stream->WriteByte(kFloat64);
      stream->WriteAlignment(8);
      WriteNumber(std::get<double>(value), stream);
      break;
    case 5:
      WriteString(std::get<std::string>(value), stream);
      break;
    case 6: {
      const auto& bytes = std::get<std::vector<uint8_t>>(value);
      stream->WriteByte(kUInt8List);
      WriteSizeTo(bytes.size(), stream);
      stream->WriteBytes(bytes.data(), bytes.size());
      break;
    }
    case 7:
      WriteTypedList(kInt32List, std::get<std::vector<int32_t>>(value), stream);
      break;
    case 8:
      WriteTypedList(kInt64List, std::get<std::vector<int64_t>>(value), stream);
      break;
    case 9:
      WriteTypedList(kFloat64List, std::get<std::vector<double>>(value), stream);
      break;
    case 10: {
      const auto& list = std::get<EncodableList>(value);
      stream->WriteByte(kList);
      WriteSizeTo(list.size(), stream);
      for (const EncodableValue& element : list) WriteValueTo(element, stream);
      break;
    }
    case 11: {
      const auto& map = std::get<EncodableMap>(value);
      stream->WriteByte(kMap);
      WriteSizeTo(map.size(), stream);
      for (const auto& entry : map) {
        WriteValueTo(entry.first, stream);
        WriteValueTo(entry.second, stream);
      }
      break;
    }
    case 12:
      stream->WriteByte(kNull);
      std::cerr << "Unhandled custom type in StandardCodecSerializer::WriteValue. "
                << "Custom types require codec extensions." << std::endl;
      break;
    case 13:
      WriteTypedList(kFloat32List, std::get<std::vector<float>>(value), stream);
      break;
    default:
      // valueless_by_exception: nothing sensible to send.
      stream->WriteByte(kNull);
      break;
  }
}

// Reads values from one message, each straight into its place (a list
// element, a map node) rather than built and moved there. Malformed input
// never makes it read, allocate or loop beyond what the stream holds.
template <typename Reader>
class ValueReader {
 public:
  explicit ValueReader(Reader* stream) : stream_(stream) {}

  // `out` is null on entry and stays null if nothing can be read.
  void Read(EncodableValue* out) {
    if (!abandoned_) ReadOfType(stream_->ReadByte(), out);
  }

  EncodableValue Read() {
    EncodableValue value;
    Read(&value);
    return value;
  }

  size_t ReadSize() {
    uint8_t byte = stream_->ReadByte();
    if (byte < 254) return byte;
    if (byte == 254) return static_cast<size_t>(ReadFixed(2));
    return static_cast<size_t>(ReadFixed(4));
  }

  void ReadOfType(uint8_t type, EncodableValue* out);

 private:
  // A short read reports itself and leaves the bytes zero, so the value read
  // is 0 rather than garbage.
  uint64_t ReadFixed(size_t width) {
    uint8_t bytes[sizeof(uint64_t)] = {};
    stream_->ReadBytes(bytes, width);
    uint64_t value = 0;
    for (size_t i = width; i > 0; --i) value = (value << 8) | bytes[i - 1];
    return value;
  }

  template <typename T>
  T ReadNumber() {
    const auto bits = static_cast<Bits<T>>(ReadFixed(sizeof(T)));
    T value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

  // `size` bytes of the message, which the caller has checked it holds: in
  // place from the codecs' own reader, else through a scratch buffer.
  const char* Take(size_t size) {
    if constexpr (std::is_same<Reader, ByteBufferStreamReader>::value) {
      return reinterpret_cast<const char*>(stream_->ReadSpan(size));
    } else {
      scratch_.resize(size);
      if (size > 0) stream_->ReadBytes(reinterpret_cast<uint8_t*>(&scratch_[0]), size);
      return scratch_.data();
    }
  }

  // A size, then that many bytes of the message; none if it does not hold
  // them.
  std::pair<const char*, size_t> ReadSizedBytes() {
    const size_t size = ReadSize();
    if (size > stream_->BytesRemaining()) {
      ReportInvalidRead();
      return {"", 0};
    }
    return {Take(size), size};
  }

  // A string or a byte vector.
  template <typename Bytes>
  void ReadSized(EncodableValue* out) {
    const auto [bytes, size] = ReadSizedBytes();
    out->emplace<Bytes>(bytes, bytes + size);
  }

  // A count of fixed-width elements after the alignment padding. The padding
  // is read even for an empty list: the user interface's codec always writes
  // it, and skipping it would shift every value that follows.
  template <typename T>
  void ReadTypedList(EncodableValue* out) {
    const size_t count = ReadSize();
    stream_->ReadAlignment(sizeof(T));
    std::vector<T>& list = out->emplace<std::vector<T>>();
    if (count > stream_->BytesRemaining() / sizeof(T)) {
      ReportInvalidRead();
      return;
    }
    list.resize(count);
    if (HostIsLittleEndian()) {
      stream_->ReadBytes(reinterpret_cast<uint8_t*>(list.data()), count * sizeof(T));
    } else {
      for (T& element : list) element = ReadNumber<T>();
    }
  }

  void ReadList(size_t count, EncodableList* list) {
    list->reserve(count);
    for (size_t i = 0; i < count && !abandoned_; ++i) {
      list->emplace_back();
      Read(&list->back());
    }
  }

  void ReadMap(size_t count, EncodableMap* map) {
    for (size_t i = 0; i < count && !abandoned_; ++i) {
      const size_t size_before = map->size();
      const auto entry = InsertKey(map);
      if (map->size() != size_before) {
        Read(&entry->second);
      } else {
        Read();  // a repeated key keeps its first value
      }
    }
  }

  // Reads a key and inserts it with a null value, or finds it if repeated.
  // Maps written from a std::map arrive in key order, so the end is where each
  // key goes and the hint spares a second search; a wrong hint costs a normal
  // insertion. A string key, the usual kind, is built in its node straight
  // from the message.
  EncodableMap::iterator InsertKey(EncodableMap* map) {
    const uint8_t type = stream_->ReadByte();
    if (type == kString) {
      const auto [text, size] = ReadSizedBytes();
      return map->emplace_hint(map->end(), std::piecewise_construct,
                               std::forward_as_tuple(std::in_place_type<std::string>, text, size),
                               std::forward_as_tuple());
    }
    EncodableValue key;
    ReadOfType(type, &key);
    return map->emplace_hint(map->end(), std::move(key), EncodableValue());
  }

  Reader* stream_;
  std::string scratch_;
  int depth_ = 0;
  // Set when the message was refused part-way; everything after reads null.
  bool abandoned_ = false;
};

template <typename Reader>
void ValueReader<Reader>::ReadOfType(uint8_t type, EncodableValue* out) {
  switch (type) {
    case kNull:
      return;
    case kTrue:
      *out = true;
      return;
    case kFalse:
      *out = false;
      return;
    case kInt32:
      *out = ReadNumber<int32_t>();
      return;
    case kInt64:
      *out = ReadNumber<int64_t>();
      return;
    case kFloat64:
      stream_->ReadAlignment(8);
      *out = ReadNumber<double>();
      return;
    case kLargeInt:
    case kString:
      return ReadSized<std::string>(out);
    case kUInt8List:
      return ReadSized<std::vector<uint8_t>>(out);
    case kInt32List:
      return ReadTypedList<int32_t>(out);
    case kInt64List:
      return ReadTypedList<int64_t>(out);
    case kFloat64List:
      return ReadTypedList<double>(out);
    case kFloat32List:
      return ReadTypedList<float>(out);
    case kList:
    case kMap: {
      size_t count = ReadSize();
      if (depth_ >= StandardCodecSerializer::kMaxNestingDepth) {
        std::cerr << "Invalid message in StandardCodecSerializer::ReadValue: nesting deeper than "
                  << StandardCodecSerializer::kMaxNestingDepth << " levels" << std::endl;
        abandoned_ = true;
        return;
      }
      // Every element takes at least one byte, every map entry two; a count
      // the rest of the message cannot hold is a lie, not a reason to loop.
      size_t min_bytes_per_item = type == kList ? 1 : 2;
      if (count > stream_->BytesRemaining() / min_bytes_per_item) {
        ReportInvalidRead();
        count = 0;
      }
      ++depth_;
      if (type == kList) {
        ReadList(count, &out->emplace<EncodableList>());
      } else {
        ReadMap(count, &out->emplace<EncodableMap>());
      }
      --depth_;
      return;
    }
    default:
      std::cerr << "Unknown type in StandardCodecSerializer::ReadValueOfType: "
                << static_cast<int>(type) << std::endl;
      return;
  }
}

// One value of a message, read through the codecs' own stream.
EncodableValue ReadOne(ByteBufferStreamReader* stream) {
  return ValueReader<ByteBufferStreamReader>(stream).Read();
}

}  // namespace

const StandardCodecSerializer& StandardCodecSerializer::GetInstance() {
  static const StandardCodecSerializer instance;
  return instance;
}

EncodableValue StandardCodecSerializer::ReadValue(ByteStreamReader* stream) const {
  return ValueReader<ByteStreamReader>(stream).Read();
}

EncodableValue StandardCodecSerializer::ReadValueOfType(uint8_t type,
                                                        ByteStreamReader* stream) const {
  EncodableValue value;
  ValueReader<ByteStreamReader>(stream).ReadOfType(type, &value);
  return value;
}

size_t StandardCodecSerializer::ReadSize(ByteStreamReader* stream) const {
  return ValueReader<ByteStreamReader>(stream).ReadSize();
}

void StandardCodecSerializer::WriteSize(size_t size, ByteStreamWriter* stream) const {
  WriteSizeTo(size, stream);
}

void StandardCodecSerializer::WriteValue(const EncodableValue& value,
                                         ByteStreamWriter* stream) const {
  WriteValueTo(value, stream);
}

const StandardMessageCodec& StandardMessageCodec::GetInstance() {
  static const StandardMessageCodec instance;
  return instance;
}

std::unique_ptr<std::vector<uint8_t>> StandardMessageCodec::EncodeMessage(
    const EncodableValue& message) const {
  MessageWriter stream;
  WriteValueTo(message, &stream);
  return stream.Finish();
}

std::unique_ptr<EncodableValue> StandardMessageCodec::DecodeMessage(const uint8_t* message,
                                                                    size_t size) const {
  if (size == 0) return std::make_unique<EncodableValue>();
  ByteBufferStreamReader stream(message, size);
  return std::make_unique<EncodableValue>(ReadOne(&stream));
}

const StandardMethodCodec& StandardMethodCodec::GetInstance() {
  static const StandardMethodCodec instance;
  return instance;
}

std::unique_ptr<MethodCall> StandardMethodCodec::DecodeMethodCall(const uint8_t* message,
                                                                  size_t size) const {
  ByteBufferStreamReader stream(message, size);
  EncodableValue method_name = ReadOne(&stream);
  auto* name = std::get_if<std::string>(&method_name);
  if (name == nullptr) {
    std::cerr << "Invalid method call; method name is not a string." << std::endl;
    return nullptr;
  }
  auto arguments = std::make_unique<EncodableValue>(ReadOne(&stream));
  return std::make_unique<MethodCall>(std::move(*name), std::move(arguments));
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeMethodCall(
    const MethodCall& call) const {
  MessageWriter stream;
  WriteString(call.method_name(), &stream);
  if (call.arguments() != nullptr) {
    WriteValueTo(*call.arguments(), &stream);
  } else {
    stream.WriteByte(kNull);
  }
  return stream.Finish();
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeSuccessEnvelope(
    const EncodableValue* result) const {
  MessageWriter stream;
  stream.WriteByte(0);
  if (result != nullptr) {
    WriteValueTo(*result, &stream);
  } else {
    stream.WriteByte(kNull);
  }
  return stream.Finish();
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeErrorEnvelope(
    const std::string& code, const std::string& message, const EncodableValue* details) const {
  MessageWriter stream;
  stream.WriteByte(1);
  WriteString(code, &stream);
  if (message.empty()) {
    stream.WriteByte(kNull);
  } else {
    WriteString(message, &stream);
  }
  if (details != nullptr) {
    WriteValueTo(*details, &stream);
  } else {
    stream.WriteByte(kNull);
  }
  return stream.Finish();
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
  ByteBufferStreamReader stream(response, size);
  uint8_t flag = stream.ReadByte();
  if (flag == 0) {
    if (stream.BytesRemaining() == 0) return bad_bytes("success envelope without a value");
    EncodableValue value = ReadOne(&stream);
    if (stream.read_past_end()) return bad_bytes("truncated success envelope");
    if (stream.BytesRemaining() != 0) return bad_bytes("bytes after the success envelope");
    if (result != nullptr) *result = std::move(value);
    return true;
  }
  if (flag != 1) return bad_bytes("unknown reply envelope");
  EncodableValue code = ReadOne(&stream);
  if (stream.BytesRemaining() == 0) return bad_bytes("truncated error envelope");
  EncodableValue message = ReadOne(&stream);
  if (stream.BytesRemaining() == 0) return bad_bytes("truncated error envelope");
  EncodableValue details = ReadOne(&stream);
  // Dart may append the stack trace as a fourth string.
  if (stream.BytesRemaining() > 0) {
    EncodableValue stack_trace = ReadOne(&stream);
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

}  // namespace vek_native
