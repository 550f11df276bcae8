#include "bridge/bridge_arguments.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace vek_native {
namespace {

EncodableValue Args(const char* key, EncodableValue value) {
  EncodableMap map;
  map[EncodableValue(key)] = std::move(value);
  return EncodableValue(std::move(map));
}

TEST(IntegerArgumentTest, WidthsDoublesAndWrongTypes) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  struct Case {
    EncodableValue value;
    int64_t expected;
  } cases[] = {
      {EncodableValue(int32_t{-7}), -7},
      {EncodableValue(int64_t{1} << 40), int64_t{1} << 40},
      {EncodableValue(7000.5), 7000},
      {EncodableValue(-7000.9), -7000},
      {EncodableValue(std::nan("")), 42},
      {EncodableValue(std::numeric_limits<double>::infinity()), 42},
      {EncodableValue(-std::numeric_limits<double>::infinity()), 42},
      {EncodableValue(1e300), kMax},
      {EncodableValue(9223372036854775808.0), kMax},
      {EncodableValue(-1e300), kMin},
      {EncodableValue(-9223372036854775808.0), kMin},
      {EncodableValue("5"), 42},
      {EncodableValue(true), 42},
      {EncodableValue(), 42},
  };
  for (const Case& c : cases) {
    const EncodableValue args = Args("n", c.value);
    EXPECT_EQ(IntegerArgument(&args, "n", 42), c.expected) << c.value.index();
  }
  EXPECT_EQ(IntegerArgument(nullptr, "n", 42), 42);
  const EncodableValue list{EncodableList{EncodableValue(1)}};
  EXPECT_EQ(IntegerArgument(&list, "n", 42), 42);
}

TEST(ArgumentReadersTest, StringsBoolsAndLists) {
  const EncodableValue text = Args("k", EncodableValue("v"));
  const EncodableValue number = Args("k", EncodableValue(1));
  EXPECT_EQ(StringArgument(&text, "k"), "v");
  EXPECT_EQ(StringArgument(&number, "k"), "");
  EXPECT_EQ(StringArgument(&text, "other"), "");
  EXPECT_FALSE(BoolArgument(&number, "k", false));
  const EncodableValue flag = Args("k", EncodableValue(false));
  EXPECT_FALSE(BoolArgument(&flag, "k", true));

  const EncodableValue mixed = Args(
      "k",
      EncodableValue(EncodableList{EncodableValue("a"), EncodableValue(3), EncodableValue("b")}));
  EXPECT_EQ(StringListArgument(&mixed, "k"), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(StringListArgument(&text, "k").empty());
}

TEST(BytesArgumentTest, ByteListsStringsAndOtherTypes) {
  struct Case {
    EncodableValue value;
    bool present;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {EncodableValue(std::vector<uint8_t>{1, 2, 3}), true, {1, 2, 3}},
      {EncodableValue(std::vector<uint8_t>{}), true, {}},
      {EncodableValue("AQID"), true, {1, 2, 3}},
      {EncodableValue("AQ ID=="), true, {1, 2, 3}},
      {EncodableValue(""), true, {}},
      {EncodableValue("=== -_"), true, {}},
      {EncodableValue(std::vector<int32_t>{1, 2, 3}), false, {}},
      {EncodableValue(5), false, {}},
  };
  for (const Case& c : cases) {
    const EncodableValue args = Args("data", c.value);
    std::vector<uint8_t> bytes{9};
    EXPECT_EQ(BytesArgument(&args, "data", &bytes), c.present) << c.value.index();
    if (c.present) {
      EXPECT_EQ(bytes, c.bytes);
    }
  }
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(BytesArgument(nullptr, "data", &bytes));
}

TEST(DecodeBase64LenientTest, SkipsForeignCharactersAndDropsPartialBytes) {
  EXPECT_EQ(DecodeBase64Lenient("TWFu"), (std::vector<uint8_t>{'M', 'a', 'n'}));
  EXPECT_EQ(DecodeBase64Lenient("TWE="), (std::vector<uint8_t>{'M', 'a'}));
  EXPECT_EQ(DecodeBase64Lenient("T\nW-_E"), (std::vector<uint8_t>{'M', 'a'}));
  EXPECT_EQ(DecodeBase64Lenient("T"), std::vector<uint8_t>{});
  EXPECT_EQ(DecodeBase64Lenient("+/+/"), (std::vector<uint8_t>{0xFB, 0xFF, 0xBF}));
  // Long input keeps only the low 32 bits of the accumulator: no overflow.
  EXPECT_EQ(DecodeBase64Lenient(std::string(4000, '/')).size(), 3000u);
}

TEST(LowInt32Test, TakesTheLowBits) {
  EXPECT_EQ(LowInt32(-1), -1);
  EXPECT_EQ(LowInt32(0x7FFFFFFF), 0x7FFFFFFF);
  EXPECT_EQ(LowInt32(0x80000000LL), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(LowInt32(0x100000005LL), 5);
  EXPECT_EQ(LowInt32(std::numeric_limits<int64_t>::min()), 0);
}

}  // namespace
}  // namespace vek_native
