#include "channels/standard_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "unit/channels/codec_test_util.h"

namespace vek_native {
namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

EncodableValue List(EncodableList items) { return EncodableValue(std::move(items)); }

struct ByteVector {
  const char* name;
  EncodableValue value;
  std::string hex;
};

// Flutter's own vectors (codec_vectors_test.cc) cover each type's bytes; these
// are the layouts they leave out: the tag that follows the alternative, the
// padding after a byte inside a list, and the order map entries are written.
TEST(StandardCodecTest, WritesAndReadsWhatTheFlutterVectorsLeaveOut) {
  const std::vector<ByteVector> vectors = {
      {"small int64 keeps its tag", EncodableValue(int64_t{1}), "040100000000000000"},
      {"empty int32 list between values",
       List({EncodableValue(), EncodableValue(std::vector<int32_t>{}), EncodableValue(true)}),
       "0c0300090000000001"},
      {"map keys in byte order",
       EncodableValue(EncodableMap{{EncodableValue("b"), EncodableValue(int32_t{2})},
                                   {EncodableValue("a"), EncodableValue(int32_t{1})}}),
       "0d0207016103010000000701620302000000"},
      {"map keys by alternative first",
       EncodableValue(EncodableMap{{EncodableValue("x"), EncodableValue()},
                                   {EncodableValue(int64_t{5}), EncodableValue()},
                                   {EncodableValue(int32_t{9}), EncodableValue()}}),
       "0d030309000000000405000000000000000007017800"},
  };
  for (const ByteVector& v : vectors) {
    SCOPED_TRACE(v.name);
    EXPECT_EQ(ToHex(Encode(v.value)), v.hex);
    CaptureStderr();
    EXPECT_EQ(Decode(FromHex(v.hex)), v.value);
    EXPECT_EQ(GetCapturedStderr(), "");
  }
}

TEST(StandardCodecTest, LargeIntTagReadsAsString) {
  EXPECT_EQ(Decode(FromHex("05023132")), EncodableValue("12"));
}

TEST(StandardCodecTest, ReadingPastTheEndReportsAndLeavesZero) {
  struct Case {
    const char* hex;
    EncodableValue expected;
  };
  const std::vector<Case> cases = {
      {"03", EncodableValue(int32_t{0})},
      {"0301", EncodableValue(int32_t{0})},  // destination untouched: not 1
      {"04ef", EncodableValue(int64_t{0})},
      {"060000000000000000", EncodableValue(0.0)},
      {"070568", EncodableValue(std::string())},
      {"080500", EncodableValue(std::vector<uint8_t>())},
      {"0905000000000000", EncodableValue(std::vector<int32_t>())},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hex);
    CaptureStderr();
    EXPECT_EQ(Decode(FromHex(c.hex)), c.expected);
    EXPECT_NE(GetCapturedStderr().find("Invalid read in StandardCodecByteStreamReader"),
              std::string::npos);
  }
}

TEST(StandardCodecTest, UnknownTagReportsAndYieldsNull) {
  CaptureStderr();
  EXPECT_TRUE(Decode(FromHex("0f")).IsNull());
  EXPECT_EQ(GetCapturedStderr(), "Unknown type in StandardCodecSerializer::ReadValueOfType: 15\n");
}

TEST(StandardCodecTest, CustomValueIsWrittenAsNullWithDiagnostic) {
  CaptureStderr();
  EXPECT_EQ(ToHex(Encode(EncodableValue(CustomEncodableValue(std::any(5))))), "00");
  EXPECT_EQ(GetCapturedStderr(),
            "Unhandled custom type in StandardCodecSerializer::WriteValue. Custom types require "
            "codec extensions.\n");
}

// A size field larger than the rest of the message must not make the decoder
// allocate or loop for it.
TEST(StandardCodecTest, HostileSizesNeitherAllocateNorLoop) {
  const std::vector<std::string> messages = {
      "07ffffffffff",       "05ffffffffff",       "08ffffffffff",
      "09ffffffffff0000",   "0affffffffff0000",   "0bffffffffff0000",
      "0effffffffff0000",   "0cffffffffff",       "0dffffffffff",
      "0c020dfeffff0700",  // a list holding a map that claims 65535 entries
      "0cfe000107ffffffff", "0a0500000000000000",
  };
  for (const std::string& hex : messages) {
    SCOPED_TRACE(hex);
    std::vector<uint8_t> bytes = FromHex(hex);
    CaptureStderr();
    size_t largest = 0;
    {
      AllocationProbe probe;
      Decode(bytes);
      largest = probe.largest();
    }
    std::string diagnostics = GetCapturedStderr();
    EXPECT_LT(largest, 4096u);
    EXPECT_NE(diagnostics.find("Invalid read in StandardCodecByteStreamReader"), std::string::npos);
    // Bounded by the message, not by the size field.
    EXPECT_LT(diagnostics.size(), 64 * (bytes.size() + 1));
  }
}

TEST(StandardCodecTest, DeepNestingIsRefusedWithoutExhaustingTheStack) {
  for (uint8_t tag : {uint8_t{0x0c}, uint8_t{0x0d}}) {
    SCOPED_TRACE(static_cast<int>(tag));
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 100000; ++i) {
      bytes.push_back(tag);
      bytes.push_back(1);
    }
    CaptureStderr();
    EncodableValue value = Decode(bytes);
    EXPECT_NE(GetCapturedStderr().find("nesting deeper than 256 levels"), std::string::npos);
    EXPECT_FALSE(value.IsNull());
  }
  // Nesting within the bound still decodes.
  EncodableValue nested = List({});
  for (int i = 0; i < StandardCodecSerializer::kMaxNestingDepth - 1; ++i) {
    nested = List({std::move(nested)});
  }
  CaptureStderr();
  EXPECT_EQ(Decode(Encode(nested)), nested);
  EXPECT_EQ(GetCapturedStderr(), "");
}

// Well-formed envelopes are among Flutter's vectors; these are the refusals
// and the words they are reported in (code and details cleared).
TEST(StandardMethodCodecTest, RefusedResponseEnvelopes) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  const struct {
    const char* hex;
    const char* message;
  } cases[] = {
      {"", "empty reply (method not implemented)"},
      {"000000", "bytes after the success envelope"},
      {"02", "unknown reply envelope"},
      {"0107056572726f7200", "truncated error envelope"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hex);
    std::vector<uint8_t> bytes = FromHex(c.hex);
    EncodableValue result, details(true);
    std::string code = "x", message = "x";
    EXPECT_FALSE(codec.DecodeResponseEnvelope(bytes.data(), bytes.size(), &result, &code, &message,
                                              &details));
    EXPECT_EQ(code, "");
    EXPECT_EQ(message, c.message);
    EXPECT_TRUE(details.IsNull());
  }
}

}  // namespace
}  // namespace vek_native
