#include "channels/standard_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
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

// Each value's exact bytes; every one also decodes back to the same value.
TEST(StandardCodecTest, WritesAndReadsEachTypeByteExactly) {
  const std::vector<ByteVector> vectors = {
      {"null", EncodableValue(), "00"},
      {"true", EncodableValue(true), "01"},
      {"false", EncodableValue(false), "02"},
      {"int32 1", EncodableValue(int32_t{1}), "0301000000"},
      {"int32 min", EncodableValue(std::numeric_limits<int32_t>::min()), "0300000080"},
      // The tag follows the alternative, not the magnitude.
      {"int64 1", EncodableValue(int64_t{1}), "040100000000000000"},
      {"int64 -2", EncodableValue(int64_t{-2}), "04feffffffffffffff"},
      {"double", EncodableValue(1.0), "0600000000000000000000000000f03f"},
      {"string", EncodableValue("hello"), "070568656c6c6f"},
      {"utf-8 string", EncodableValue("h\xe2\x98\xbaw"), "070568e298ba77"},
      {"bytes", EncodableValue(std::vector<uint8_t>{0xba, 0x5e, 0xba, 0x11}), "0804ba5eba11"},
      {"int32 list", EncodableValue(std::vector<int32_t>{0x12345678, -1}),
       "0902000078563412ffffffff"},
      {"int64 list", EncodableValue(std::vector<int64_t>{-1}), "0a01000000000000ffffffffffffffff"},
      {"double list", EncodableValue(std::vector<double>{1.0}), "0b01000000000000000000000000f03f"},
      {"float list", EncodableValue(std::vector<float>{1.0f, -2.0f}), "0e0200000000803f000000c0"},
      // Empty typed lists keep their alignment padding, as the other side's
      // codec writes and expects it.
      {"empty int32 list", EncodableValue(std::vector<int32_t>{}), "09000000"},
      {"empty int64 list", EncodableValue(std::vector<int64_t>{}), "0a00000000000000"},
      {"empty double list", EncodableValue(std::vector<double>{}), "0b00000000000000"},
      {"empty float list", EncodableValue(std::vector<float>{}), "0e000000"},
      {"empty int32 list between values",
       List({EncodableValue(), EncodableValue(std::vector<int32_t>{}), EncodableValue(true)}),
       "0c03000900000000"
       "01"},
      {"double after a byte in a list", List({EncodableValue(), EncodableValue(0.5)}),
       "0c02000600000000000000000000e03f"},
      {"empty list", List({}), "0c00"},
      {"map keys in byte order",
       EncodableValue(EncodableMap{{EncodableValue("b"), EncodableValue(int32_t{2})},
                                   {EncodableValue("a"), EncodableValue(int32_t{1})}}),
       "0d0207016103010000000701620302000000"},
      {"map keys by alternative first",
       EncodableValue(EncodableMap{{EncodableValue("x"), EncodableValue()},
                                   {EncodableValue(int64_t{5}), EncodableValue()},
                                   {EncodableValue(int32_t{9}), EncodableValue()}}),
       "0d0303090000000004050000000000000000070178"
       "00"},
  };
  for (const ByteVector& v : vectors) {
    SCOPED_TRACE(v.name);
    std::string hex = v.hex;
    hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
    EXPECT_EQ(ToHex(Encode(v.value)), hex);
    CaptureStderr();
    EXPECT_EQ(Decode(FromHex(hex)), v.value);
    EXPECT_EQ(GetCapturedStderr(), "");
  }
}

TEST(StandardCodecTest, SizeEncodingBoundaries) {
  struct Case {
    size_t size;
    std::string prefix;
  };
  for (const Case& c : std::vector<Case>{{0, "0700"},
                                         {253, "07fd"},
                                         {254, "07fefe00"},
                                         {0xFFFF, "07feffff"},
                                         {0x10000, "07ff00000100"}}) {
    SCOPED_TRACE(c.size);
    EncodableValue text(std::string(c.size, 'x'));
    std::vector<uint8_t> bytes = Encode(text);
    EXPECT_EQ(ToHex(std::vector<uint8_t>(bytes.begin(), bytes.begin() + c.prefix.size() / 2)),
              c.prefix);
    EXPECT_EQ(bytes.size(), c.prefix.size() / 2 + c.size);
    EXPECT_EQ(Decode(bytes), text);
  }
}

TEST(StandardCodecTest, RoundTripsNestedValues) {
  EncodableMap event{
      {EncodableValue("channel"), EncodableValue("hidInput")},
      {EncodableValue("timestampUs"), EncodableValue(int64_t{1234567890123})},
      {EncodableValue("data"), EncodableValue(std::vector<uint8_t>(64, 0xA5))},
      {EncodableValue("nested"),
       List({EncodableValue(std::vector<double>{}), EncodableValue(-0.0),
             EncodableValue(std::vector<float>{0.5f}), EncodableValue(EncodableMap{}),
             EncodableValue(std::vector<int64_t>{std::numeric_limits<int64_t>::min()})})},
  };
  EncodableValue value(event);
  EXPECT_EQ(Decode(Encode(value)), value);
}

TEST(StandardCodecTest, LargeIntTagReadsAsString) {
  EXPECT_EQ(Decode(FromHex("05023132")), EncodableValue("12"));
}

TEST(StandardCodecTest, EmptyMessageIsNullWithoutDiagnostic) {
  CaptureStderr();
  EXPECT_TRUE(Decode({}).IsNull());
  EXPECT_EQ(GetCapturedStderr(), "");
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

TEST(StandardMethodCodecTest, MethodCallRoundTrip) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  MethodCall call("hello", std::make_unique<EncodableValue>(
                               List({EncodableValue(int32_t{42}), EncodableValue("world")})));
  auto bytes = codec.EncodeMethodCall(call);
  EXPECT_EQ(ToHex(*bytes), "070568656c6c6f0c02032a0000000705776f726c64");
  auto decoded = codec.DecodeMethodCall(bytes->data(), bytes->size());
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->method_name(), "hello");
  ASSERT_NE(decoded->arguments(), nullptr);
  EXPECT_EQ(*decoded->arguments(), *call.arguments());

  MethodCall bare("ping", nullptr);
  EXPECT_EQ(ToHex(*codec.EncodeMethodCall(bare)), "070470696e6700");
}

TEST(StandardMethodCodecTest, CallWhoseNameIsNotAStringIsRefused) {
  std::vector<uint8_t> bytes = FromHex("032a00000000");
  CaptureStderr();
  EXPECT_EQ(StandardMethodCodec::GetInstance().DecodeMethodCall(bytes.data(), bytes.size()),
            nullptr);
  EXPECT_EQ(GetCapturedStderr(), "Invalid method call; method name is not a string.\n");
}

TEST(StandardMethodCodecTest, Envelopes) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  EncodableValue value(int32_t{42});
  EXPECT_EQ(ToHex(*codec.EncodeSuccessEnvelope()), "0000");
  EXPECT_EQ(ToHex(*codec.EncodeSuccessEnvelope(&value)), "00032a000000");
  // An empty message travels as null.
  EXPECT_EQ(ToHex(*codec.EncodeErrorEnvelope("error")), "0107056572726f720000");
  EXPECT_EQ(ToHex(*codec.EncodeErrorEnvelope("error", "message")),
            "0107056572726f7207076d65737361676500");
  EXPECT_EQ(ToHex(*codec.EncodeErrorEnvelope("e", "", &value)),
            "01070165"
            "00"
            "032a000000");
}

TEST(StandardMethodCodecTest, DecodesResponseEnvelopes) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  struct Case {
    const char* hex;
    bool success;
    EncodableValue result;
    std::string code, message;
    EncodableValue details;
  };
  const std::vector<Case> cases = {
      {"00032a000000", true, EncodableValue(int32_t{42}), "", "", EncodableValue()},
      {"0107056572726f7207076d657373616765032a000000", false, EncodableValue(), "error", "message",
       EncodableValue(int32_t{42})},
      {"0107056572726f720000", false, EncodableValue(), "error", "", EncodableValue()},
      {"", false, EncodableValue(), "", "empty reply (method not implemented)", EncodableValue()},
      {"000000", false, EncodableValue(), "", "bytes after the success envelope", EncodableValue()},
      {"02", false, EncodableValue(), "", "unknown reply envelope", EncodableValue()},
      {"0107056572726f7200", false, EncodableValue(), "", "truncated error envelope",
       EncodableValue()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hex);
    std::vector<uint8_t> bytes = FromHex(c.hex);
    EncodableValue result, details(true);
    std::string code = "x", message = "x";
    EXPECT_EQ(codec.DecodeResponseEnvelope(bytes.data(), bytes.size(), &result, &code, &message,
                                           &details),
              c.success);
    if (c.success) {
      EXPECT_EQ(result, c.result);
    } else {
      EXPECT_EQ(code, c.code);
      EXPECT_EQ(message, c.message);
      EXPECT_EQ(details, c.details);
    }
  }
}

}  // namespace
}  // namespace vek_native
