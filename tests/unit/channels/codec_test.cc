// The standard codec: Flutter's own test vectors (C++ client wrapper, Dart
// framework and Linux embedder; tests/data/SOURCES.md), then what they leave
// out: some layouts, and how hostile or broken messages are refused.
#include "channels/standard_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/hex.h"

namespace vek_native {
namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using vek_test::FromHex;
using vek_test::ToHex;

template <typename T>
std::string LeHex(T value) {
  std::vector<uint8_t> bytes(sizeof value);
  std::memcpy(bytes.data(), &value, sizeof value);  // the test hosts are little-endian
  return ToHex(bytes);
}

// "<prefix>[a,b,...]", or "{a,b,...}" sorted for the prefix "{".
template <typename Items, typename F>
std::string Join(const char* prefix, const Items& items, F each) {
  std::vector<std::string> texts;
  for (const auto& item : items) texts.push_back(each(item));
  if (*prefix == '{') std::sort(texts.begin(), texts.end());
  std::string out = *prefix == '{' ? "{" : std::string(prefix) + "[";
  for (size_t i = 0; i < texts.size(); ++i) out += (i > 0 ? "," : "") + texts[i];
  return out + (*prefix == '{' ? "}" : "]");
}

std::string Number(int64_t v) { return std::to_string(v); }

// The text form the vectors are written in: n, T/F, i<int32>, l<int64>,
// d<le hex>, s<utf-8 hex>, u<len>:<hex of the first 32 bytes>, I[..], L[..],
// D[..], f[..], [a,b], {k:v,...} (entries sorted by their text).
std::string Render(const EncodableValue& v) {
  using std::get_if;
  if (auto* t = get_if<bool>(&v)) return *t ? "T" : "F";
  if (auto* n = get_if<int32_t>(&v)) return "i" + Number(*n);
  if (auto* n = get_if<int64_t>(&v)) return "l" + Number(*n);
  if (auto* d = get_if<double>(&v)) return "d" + LeHex(*d);
  if (auto* s = get_if<std::string>(&v)) return "s" + ToHex({s->begin(), s->end()});
  if (auto* b = get_if<std::vector<uint8_t>>(&v)) {
    return "u" + Number(b->size()) + ":" +
           ToHex({b->begin(), b->begin() + std::min<size_t>(b->size(), 32)});
  }
  if (auto* l = get_if<std::vector<int32_t>>(&v)) return Join("I", *l, Number);
  if (auto* l = get_if<std::vector<int64_t>>(&v)) return Join("L", *l, Number);
  if (auto* l = get_if<std::vector<double>>(&v)) return Join("D", *l, LeHex<double>);
  if (auto* l = get_if<std::vector<float>>(&v)) return Join("f", *l, LeHex<float>);
  if (auto* l = get_if<EncodableList>(&v)) return Join("", *l, Render);
  if (auto* m = get_if<EncodableMap>(&v)) {
    return Join("{", *m, [](const auto& e) { return Render(e.first) + ":" + Render(e.second); });
  }
  return v.IsNull() ? "n" : "?";
}

std::vector<uint8_t> Encode(const EncodableValue& value) {
  return *StandardMessageCodec::GetInstance().EncodeMessage(value);
}

EncodableValue Decode(const std::vector<uint8_t>& bytes) {
  return *StandardMessageCodec::GetInstance().DecodeMessage(bytes.data(), bytes.size());
}

std::string RenderText(const std::string& text) { return Render(EncodableValue(text)); }

// What a vector's check makes of its bytes: the decoded text (in the file's
// RENDER form, "-" for a proper refusal) and the bytes encoded again ("-" when
// the check encodes nothing).
struct Outcome {
  std::string text = "-";
  std::string again = "-";
};

Outcome Check(const std::string& check, const std::vector<uint8_t>& bytes) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  const uint8_t* data = bytes.data();
  const size_t size = bytes.size();
  Outcome out;
  if (check == "exact" || check == "reordered") {
    const EncodableValue value = Decode(bytes);
    out.text = Render(value);
    // Our maps write their entries sorted: a reordered vector comes back as
    // the same entries in another order (and so, before doubles, other padding).
    out.again = check == "exact" ? ToHex(Encode(value)) : Render(Decode(Encode(value)));
    // The serializer over any stream, here through the base classes, agrees.
    const StandardCodecSerializer& serializer = StandardCodecSerializer::GetInstance();
    ByteBufferStreamReader reader(data, size);
    std::vector<uint8_t> written;
    ByteBufferStreamWriter writer(&written);
    serializer.WriteValue(serializer.ReadValue(&reader), &writer);
    if (check == "exact" && ToHex(written) != out.again) out.again += " generic " + ToHex(written);
  } else if (check == "custom") {  // no codec extensions: written as null
    out.text = Render(Decode(bytes));
    out.again = ToHex(Encode(EncodableValue(CustomEncodableValue(0))));
  } else if (check == "malformed") {
    Decode(bytes);
    codec.DecodeMethodCall(data, size);
  } else if (check == "call") {
    auto call = codec.DecodeMethodCall(data, size);
    if (!call || !call->arguments()) return Outcome{"no call"};
    out.text = RenderText(call->method_name()) + "/" + Render(*call->arguments());
    out.again = ToHex(*codec.EncodeMethodCall(*call));
  } else if (check == "call_rejected") {
    if (codec.DecodeMethodCall(data, size)) out.text = "call";
  } else if (check == "success") {
    EncodableValue result(true);
    if (!codec.DecodeResponseEnvelope(data, size, &result, nullptr, nullptr, nullptr)) {
      return Outcome{"refused"};
    }
    out.text = Render(result);
    out.again = ToHex(*codec.EncodeSuccessEnvelope(&result));
  } else if (check == "error" || check == "error_decode") {
    std::string code, message;
    EncodableValue details(true);
    if (codec.DecodeResponseEnvelope(data, size, nullptr, &code, &message, &details)) {
      return Outcome{"success"};
    }
    out.text = RenderText(code) + "/" + RenderText(message) + "/" + Render(details);
    if (check == "error") {
      out.again =
          ToHex(*codec.EncodeErrorEnvelope(code, message, details.IsNull() ? nullptr : &details));
    }
  } else if (check == "response_bad") {
    std::string code = "x", message;
    if (codec.DecodeResponseEnvelope(data, size, nullptr, &code, &message, nullptr) ||
        !code.empty() || message.empty()) {
      out.text = "accepted";
    }
  } else {
    out.text = "unknown check";
  }
  return out;
}

// Rows of our own, in the file's format, for what Flutter's vectors leave out.
const char* const kOwnVectors[] = {
    "custom 00 0 n own/CustomValueIsWrittenAsNull",
    // Out of key order, "b" twice: the first value stays.
    "reordered 0d03070162030100000007016103020000000701620303000000 0 {s61:i2,s62:i1} "
    "own/RepeatedKey",
    "response_bad 01070165030100000000 0 - own/ErrorMessageNeitherStringNorNull",
    "response_bad 0107016507016d00070000 0 - own/BytesAfterTheStackTrace",
    "response_bad 0003 0 - own/SuccessValueCutShort",
    "response_bad 010701650003 0 - own/ErrorDetailsCutShort",
    // Counts that the rest of the message holds exactly.
    "exact 0c020102 0 [T,F] own/ListOfOneByteElements",
    "exact 0d010102 0 {T:F} own/MapOfTwoByteEntries",
};

TEST(CodecVectorsTest, EveryFlutterVector) {
  std::ifstream file(std::string(VEK_TEST_DATA) + "/flutter_standard_codec_vectors.txt");
  std::vector<std::string> lines(std::begin(kOwnVectors), std::end(kOwnVectors));
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  int count = 0;
  for (const std::string& line : lines) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string check, hex, expected, id;
    size_t zeros = 0;
    fields >> check >> hex >> zeros >> expected >> id;
    SCOPED_TRACE(id);
    std::vector<uint8_t> bytes = hex == "-" ? std::vector<uint8_t>() : FromHex(hex);
    bytes.resize(bytes.size() + zeros, 0);
    CaptureStderr();  // refusals say why there
    const Outcome outcome = Check(check, bytes);
    GetCapturedStderr();
    EXPECT_EQ(outcome.text, expected);
    if (check == "reordered") {
      EXPECT_EQ(outcome.again, expected);
    } else if (outcome.again != "-") {
      EXPECT_EQ(outcome.again, bytes.empty() ? "00" : ToHex(bytes));  // empty reads as null
    }
    ++count;
  }
  EXPECT_GE(count, 164) << "test data missing: " << VEK_TEST_DATA;
}

// The streams' fixed-width values, which a codec extension reads and writes:
// little-endian whatever the host.
TEST(ByteStreamsTest, FixedWidthValuesAreLittleEndian) {
  std::vector<uint8_t> bytes;
  ByteBufferStreamWriter writer(&bytes);
  writer.WriteInt16(0x0102);
  writer.WriteInt32(-2);
  writer.WriteInt64(0x0102030405060708);
  writer.WriteFloat(1.5f);
  writer.WriteDouble(-2.0);
  EXPECT_EQ(ToHex(bytes), "0201feffffff08070605040302010000c03f00000000000000c0");
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  std::ostringstream read;  // the operands of << are read left to right
  read << reader.ReadInt16() << " " << reader.ReadInt32() << " " << reader.ReadInt64() << " "
       << reader.ReadFloat() << " " << reader.ReadDouble();
  EXPECT_EQ(read.str(), "258 -2 72623859790382856 1.5 -2");
}

// Nesting past the limit abandons the message where it gets too deep: what
// follows is not read into the lists around it.
TEST(CodecTest, NestingPastTheLimitIsAbandoned) {
  std::string hex = "0c02";  // the deep list, then i42
  for (int i = 0; i < 256; ++i) hex += "0c01";
  EXPECT_EQ(Render(Decode(FromHex(hex + "032a000000"))),
            std::string(256, '[') + "n" + std::string(256, ']'));
}

}  // namespace
}  // namespace vek_native
