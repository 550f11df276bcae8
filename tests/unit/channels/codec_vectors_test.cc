// Checks the codec against Flutter's own test vectors (C++ client wrapper,
// Dart framework and Linux embedder); their origin and line format are in
// tests/data/SOURCES.md.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "channels/standard_codec.h"
#include "unit/channels/codec_test_util.h"

namespace vek_native {
namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

struct Vector {
  std::string check, id, expected;
  std::vector<uint8_t> bytes;
};

std::vector<Vector> LoadVectors() {
  std::ifstream file(std::string(VEK_TEST_DATA) + "/flutter_standard_codec_vectors.txt");
  std::vector<Vector> vectors;
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Vector v;
    std::string hex;
    size_t zeros = 0;
    fields >> v.check >> hex >> zeros >> v.expected >> v.id;
    if (hex != "-") v.bytes = FromHex(hex);
    v.bytes.resize(v.bytes.size() + zeros, 0);
    vectors.push_back(std::move(v));
  }
  return vectors;
}

std::string RenderText(const std::string& text) {
  return "s" + ToHex(std::vector<uint8_t>(text.begin(), text.end()));
}

void CheckVector(const Vector& v) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  const uint8_t* data = v.bytes.data();
  size_t size = v.bytes.size();
  if (v.check == "exact" || v.check == "reordered") {
    CaptureStderr();
    EncodableValue value = Decode(v.bytes);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(Render(value), v.expected);
    std::vector<uint8_t> again = Encode(value);
    if (v.bytes.empty()) {
      EXPECT_EQ(ToHex(again), "00");  // the empty message reads as null
    } else if (v.check == "exact") {
      EXPECT_EQ(ToHex(again), ToHex(v.bytes));
    } else {
      // Our maps write their entries sorted: the same entries in another order
      // (and so, before doubles, other padding).
      EXPECT_EQ(Render(Decode(again)), v.expected);
    }
  } else if (v.check == "malformed") {
    CaptureStderr();
    size_t largest = 0;
    {
      AllocationProbe probe;
      Decode(v.bytes);
      codec.DecodeMethodCall(data, size);
      largest = probe.largest();
    }
    EXPECT_NE(GetCapturedStderr(), "");
    EXPECT_LE(largest, 4096 + 2 * size);
  } else if (v.check == "call") {
    auto call = codec.DecodeMethodCall(data, size);
    ASSERT_NE(call, nullptr);
    ASSERT_NE(call->arguments(), nullptr);
    EXPECT_EQ(RenderText(call->method_name()) + "/" + Render(*call->arguments()), v.expected);
    EXPECT_EQ(ToHex(*codec.EncodeMethodCall(*call)), ToHex(v.bytes));
  } else if (v.check == "call_rejected") {
    CaptureStderr();
    EXPECT_EQ(codec.DecodeMethodCall(data, size), nullptr);
    EXPECT_NE(GetCapturedStderr().find("Invalid method call; method name is not a string."),
              std::string::npos);
  } else if (v.check == "success") {
    EncodableValue result(true);
    ASSERT_TRUE(codec.DecodeResponseEnvelope(data, size, &result, nullptr, nullptr, nullptr));
    EXPECT_EQ(Render(result), v.expected);
    EXPECT_EQ(ToHex(*codec.EncodeSuccessEnvelope(&result)), ToHex(v.bytes));
  } else if (v.check == "error" || v.check == "error_decode") {
    std::string code, message;
    EncodableValue details(true);
    ASSERT_FALSE(codec.DecodeResponseEnvelope(data, size, nullptr, &code, &message, &details));
    EXPECT_EQ(RenderText(code) + "/" + RenderText(message) + "/" + Render(details), v.expected);
    if (v.check == "error") {
      EXPECT_EQ(
          ToHex(*codec.EncodeErrorEnvelope(code, message, details.IsNull() ? nullptr : &details)),
          ToHex(v.bytes));
    }
  } else if (v.check == "response_bad") {
    std::string code = "x", message;
    CaptureStderr();
    EXPECT_FALSE(codec.DecodeResponseEnvelope(data, size, nullptr, &code, &message, nullptr));
    GetCapturedStderr();
    EXPECT_EQ(code, "");
    EXPECT_NE(message, "");
  } else {
    ADD_FAILURE() << "unknown check " << v.check;
  }
}

TEST(CodecVectorsTest, EveryFlutterVector) {
  std::vector<Vector> vectors = LoadVectors();
  ASSERT_GE(vectors.size(), 160u) << "test data missing: " << VEK_TEST_DATA;
  for (const Vector& v : vectors) {
    SCOPED_TRACE(v.id);
    CheckVector(v);
  }
}

}  // namespace
}  // namespace vek_native
