// The strict decimal reader: what it takes, what it refuses, and the edges of 64 bits.
#include <gtest/gtest.h>

#include <limits>

#include "runtime/Decimal.h"

namespace {

using rt::parseDecimal;
using rt::Sign;

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

TEST(Decimal, ReadsWholeDigitTextsOnly) {
  EXPECT_EQ(parseDecimal(u"0", 0, kMax), 0);
  EXPECT_EQ(parseDecimal(u"00042", 0, kMax), 42);  // leading zeros are read
  // Nothing but digits: no blanks, no sign without Sign::Optional, no empty text, no hex.
  for (const char16_t* text : {u"", u" 1", u"1 ", u"+1", u"-1", u"1a", u"0x10", u"1.5", u"\u0661"})
    EXPECT_FALSE(parseDecimal(text, kMin, kMax));
}

TEST(Decimal, SignsWhenAllowed) {
  EXPECT_EQ(parseDecimal(u"+7", kMin, kMax, Sign::Optional), 7);
  EXPECT_EQ(parseDecimal(u"-7", kMin, kMax, Sign::Optional), -7);
  EXPECT_EQ(parseDecimal(u"-0", kMin, kMax, Sign::Optional), 0);
  for (const char16_t* text : {u"+", u"-", u"--1", u"+-1", u"1-"})
    EXPECT_FALSE(parseDecimal(text, kMin, kMax, Sign::Optional));
}

// The range is checked after reading, and a value beyond 64 bits is refused rather than wrapped.
TEST(Decimal, RangeAndOverflow) {
  EXPECT_EQ(parseDecimal(u"255", 0, 255), 255);
  EXPECT_FALSE(parseDecimal(u"256", 0, 255));
  EXPECT_FALSE(parseDecimal(u"-1", 0, 255, Sign::Optional));
  EXPECT_EQ(parseDecimal(u"9223372036854775807", kMin, kMax), kMax);
  EXPECT_EQ(parseDecimal(u"-9223372036854775808", kMin, kMax, Sign::Optional), kMin);
  EXPECT_FALSE(parseDecimal(u"9223372036854775808", kMin, kMax));
  EXPECT_FALSE(parseDecimal(u"-9223372036854775809", kMin, kMax, Sign::Optional));
  EXPECT_FALSE(parseDecimal(u"18446744073709551626", kMin, kMax));  // 2^64 + 10 would wrap to 10
  EXPECT_EQ(parseDecimal(u"000000000000000000000000000001", 0, kMax), 1);
}

}  // namespace
