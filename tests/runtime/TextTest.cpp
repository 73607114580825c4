// Text conversions at the program's edges.
#include <gtest/gtest.h>

#include "runtime/Text.h"

using namespace rt;

// UTF-8 round trips, including characters outside the basic plane (surrogate pairs).
TEST(Text, Utf8RoundTrips) {
  const std::u16string text = u"Caf\u00e9 \u4e2d\u6587 \U0001F600";
  const std::string bytes = toUtf8(text);
  EXPECT_EQ(bytes, "Caf\xc3\xa9 \xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x98\x80");
  EXPECT_EQ(fromUtf8(bytes), text);
}

// Broken input never throws and never swallows the bytes after it.
TEST(Text, MalformedUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(fromUtf8("a\xff" "b"), u"a\ufffd" "b");
  EXPECT_EQ(fromUtf8("a\xe4\xb8"), u"a\ufffd");           // truncated sequence
  EXPECT_EQ(fromUtf8("\xc0\xaf"), u"\ufffd\ufffd");      // overlong "/"
  EXPECT_EQ(fromUtf8("\xed\xa0\x80"), u"\ufffd\ufffd\ufffd");  // encoded surrogate
  EXPECT_EQ(toUtf8(std::u16string(1, u'\xd800')), "\xef\xbf\xbd");  // lone surrogate
}

// 7-bit ASCII replaces everything above U+007F with "?"; 8-bit keeps byte = character code.
TEST(Text, AsciiAndEightBit) {
  EXPECT_EQ(toAscii7(u"Caf\u00e9\u4e2d"), "Caf??");
  EXPECT_EQ(fromAscii7("a\x80z"), u"a?z");
  EXPECT_EQ(toBytes8(u"\u00e9\u0100"), "\xe9?");
  EXPECT_EQ(fromBytes8("\xe9\x01"), u"\u00e9\u0001");
}

TEST(Text, CaseMappingCoversNonAscii) {
  EXPECT_EQ(upperCase(u"exepath \u00e9\u00df"), u"EXEPATH \u00c9\u00df");
  EXPECT_EQ(lowerCase(u"TALVENOOK \u00c9"), u"talvenook \u00e9");
  EXPECT_TRUE(sameTextAscii(u"Content-Length", u"content-LENGTH"));
  EXPECT_FALSE(sameTextAscii(u"Content-Length", u"Content-Lengt"));
}

// General format: at most 15 significant digits, "E" exponents without "+" or leading zeros.
TEST(Text, NumberFormatting) {
  EXPECT_EQ(intToText(-9223372036854775807LL - 1), u"-9223372036854775808");
  EXPECT_EQ(floatToText(0), u"0");
  EXPECT_EQ(floatToText(1.5), u"1.5");
  EXPECT_EQ(floatToText(-0.25), u"-0.25");
  EXPECT_EQ(floatToText(0.1 + 0.2), u"0.3");
  EXPECT_EQ(floatToText(1e20), u"1E20");
  EXPECT_EQ(floatToText(1.5e-6), u"1.5E-6");
  EXPECT_EQ(floatToText(123456789012345.0), u"123456789012345");
}

TEST(Text, TrimRemovesControlsAndSpaces) {
  EXPECT_EQ(trim(u"\r\n a=1 \t\r\n"), u"a=1");
  EXPECT_EQ(trim(u"  "), u"");
}
