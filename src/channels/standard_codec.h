// Flutter's standard message and method codecs, the wire format both ends of
// every channel share.
#ifndef VEK_CHANNELS_STANDARD_CODEC_H_
#define VEK_CHANNELS_STANDARD_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "channels/byte_streams.h"
#include "channels/encodable_value.h"
#include "channels/method_call.h"

namespace vek_native {

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
  // Reads the payload of a value whose tag has already been read.
  EncodableValue ReadValueOfType(uint8_t type, ByteStreamReader* stream) const;

  // Sizes: below 254 one byte; up to 0xFFFF 254 and 2 bytes; else 255 and 4.
  size_t ReadSize(ByteStreamReader* stream) const;
  void WriteSize(size_t size, ByteStreamWriter* stream) const;

 private:
  StandardCodecSerializer() = default;
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

  // nullptr: not a call (the first value is not a string).
  std::unique_ptr<MethodCall> DecodeMethodCall(const uint8_t* message, size_t size) const;
  std::unique_ptr<std::vector<uint8_t>> EncodeMethodCall(const MethodCall& call) const;
  std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelope(
      const EncodableValue* result = nullptr) const;
  // An empty message goes on the wire as null.
  std::unique_ptr<std::vector<uint8_t>> EncodeErrorEnvelope(
      const std::string& code, const std::string& message = "",
      const EncodableValue* details = nullptr) const;
  // A reply envelope: true and *result on success; false and the error parts
  // on an error envelope or bad bytes (then the code is empty and the message
  // says what is wrong). Any out-parameter may be nullptr.
  bool DecodeResponseEnvelope(const uint8_t* response, size_t size, EncodableValue* result,
                              std::string* error_code, std::string* error_message,
                              EncodableValue* error_details) const;

 private:
  StandardMethodCodec() = default;
};

}  // namespace vek_native

#endif  // VEK_CHANNELS_STANDARD_CODEC_H_
