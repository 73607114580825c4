// The JSON reader on documents: what its lenient grammar accepts, what it refuses, and how the
// byte stream is turned into characters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "json/JsonParse.h"
#include "json/TJsonArray.h"
#include "json/TJsonMemberTable.h"
#include "json/TJsonTokenizer.h"
#include "runtime/Text.h"
#include "tests/support/BytesStream.h"

namespace json {
namespace {

// The reply as the existence query hands it over: the buffer as the exchange left it (at its end).
JsonRef parseReply(const std::string& bytes) {
  testsupport::BytesStream stream(bytes);
  stream.Seek(0, rt::SeekOrigin::End);
  return ParseFromStream(stream);
}

// Status of a whole-text run, for the failure kinds.
TJsonStatus statusOf(const std::u16string& text) {
  TJsonTokenizer tokenizer;
  tokenizer.ParseChunk(text.c_str(), -1, false, nullptr);
  return tokenizer.Status();
}

JsonRef member(const JsonRef& object, const char16_t* name) { return object->Members()->Get(name); }

// A stream that hands out at most `step` bytes per read, like a socket would.
class TrickleStream : public testsupport::BytesStream {
 public:
  TrickleStream(std::string_view bytes, std::int64_t step) : testsupport::BytesStream(bytes), step_(step) {}
  std::int64_t Read(void* buffer, std::int64_t count) override {
    return testsupport::BytesStream::Read(buffer, std::min(count, step_));
  }

 private:
  std::int64_t step_;
};

TEST(JsonParse, ExistenceReplies) {
  const JsonRef reply = parseReply(R"({"success":true,"exist":false})");
  ASSERT_EQ(KindOf(reply), TJsonKind::Object);
  EXPECT_EQ(KindOf(member(reply, u"success")), TJsonKind::Boolean);
  EXPECT_TRUE(member(reply, u"success")->Boolean());
  EXPECT_FALSE(member(reply, u"exist")->Boolean());
  EXPECT_EQ(reply->Members()->Count(), 2u);

  // A missing "exist" reads false.
  const JsonRef shortReply = parseReply(R"({"success":true})");
  ASSERT_TRUE(shortReply);
  EXPECT_TRUE(shortReply->BoolAt(u"success"));
  EXPECT_FALSE(shortReply->BoolAt(u"exist"));

  // Unquoted and single-quoted names, integers, a trailing comma.
  const JsonRef lenient = parseReply("{success:1,'exist':0,}");
  ASSERT_EQ(KindOf(lenient), TJsonKind::Object);
  EXPECT_EQ(member(lenient, u"success")->Integer(), 1);
  EXPECT_EQ(KindOf(member(lenient, u"exist")), TJsonKind::Integer);
  EXPECT_TRUE(lenient->BoolAt(u"success"));
  EXPECT_FALSE(lenient->BoolAt(u"exist"));

  // Text after the value (an HTML tail) is ignored.
  const JsonRef tailed = parseReply("{\"success\":true,\"exist\":false}<html><body>x</body></html>");
  ASSERT_TRUE(tailed);
  EXPECT_TRUE(tailed->BoolAt(u"success"));
}

TEST(JsonParse, RepliesThatGiveNone) {
  EXPECT_FALSE(parseReply(""));
  EXPECT_FALSE(parseReply(" \r\n\t "));
  EXPECT_FALSE(parseReply("<html><body>Not found</body></html>"));  // a top-level bare word never ends
  EXPECT_FALSE(parseReply("\xEF\xBB\xBF{\"success\":true}"));         // UTF-8 byte-order mark
  EXPECT_FALSE(parseReply("{\"success\":true"));                      // cut short
  // FF FE is only seen at the stream's position: from the reply's end the two bytes start a
  // bare word, which the first 0 byte ends, so the reply is a string and reads false.
  const JsonRef wide = parseReply(std::string("\xFF\xFE{\0\"\0s\0\"\0:\0001\0}\0", 16));
  EXPECT_EQ(KindOf(wide), TJsonKind::String);
  EXPECT_FALSE(wide->BoolAt(u"s"));
}

TEST(JsonParse, BareWordsAreStrings) {
  const JsonRef value = ParseFromText(uR"({"a":yes,"b":True,"c": b c ,"d":NaN,"e":Infinity,"f":nullable,"g":x	 
})");
  ASSERT_EQ(KindOf(value), TJsonKind::Object);
  EXPECT_EQ(member(value, u"a")->Text(), u"yes");
  EXPECT_EQ(member(value, u"b")->Text(), u"True");  // literals are lower case only
  EXPECT_EQ(member(value, u"c")->Text(), u"b c");   // inner space kept, trailing trimmed
  EXPECT_EQ(member(value, u"d")->Text(), u"NaN");
  EXPECT_EQ(member(value, u"e")->Text(), u"Infinity");
  EXPECT_EQ(member(value, u"f")->Text(), u"nullable");
  EXPECT_EQ(member(value, u"g")->Text(), u"x\t");  // a tab before the trailing space is kept

  // In arrays a bare word ends at "," and "]"; an empty one is the empty string.
  const JsonRef list = ParseFromText(u"[a b,\u00e9\u0416,]");
  ASSERT_EQ(KindOf(list), TJsonKind::Array);
  EXPECT_EQ(list->Elements()->Length(), 2u);
  EXPECT_EQ(list->Elements()->Get(0)->Text(), u"a b");
  EXPECT_EQ(list->Elements()->Get(1)->Text(), u"\u00e9\u0416");
  EXPECT_EQ(ParseFromText(u"[,]")->Elements()->Get(0)->Text(), u"");

  // Strict mode refuses unquoted values and names.
  EXPECT_FALSE(ParseFromText(u"{\"a\":yes}", true));
  EXPECT_FALSE(ParseFromText(u"{a:1}", true));
  EXPECT_TRUE(ParseFromText(u"{\"a\":1}", true));
}

TEST(JsonParse, Numbers) {
  const JsonRef value = ParseFromText(
      u"{a:1.5,b:1.23456,c:1e3,d:12,e:-0.25,f:2.,g:-,h:1-2,i:99999999999999999999,"
      u"j:-9223372036854775808,k:922337203685477.5807,l:9223372036854775807.5,m:1.2.3}");
  ASSERT_EQ(KindOf(value), TJsonKind::Object);
  EXPECT_EQ(KindOf(member(value, u"a")), TJsonKind::Currency);
  EXPECT_EQ(member(value, u"a")->Currency(), 15000);
  EXPECT_EQ(KindOf(member(value, u"b")), TJsonKind::Double);
  EXPECT_DOUBLE_EQ(member(value, u"b")->Double(), 1.23456);
  EXPECT_EQ(KindOf(member(value, u"c")), TJsonKind::Double);
  EXPECT_DOUBLE_EQ(member(value, u"c")->Double(), 1000.0);
  EXPECT_EQ(KindOf(member(value, u"d")), TJsonKind::Integer);
  EXPECT_EQ(member(value, u"d")->Integer(), 12);
  EXPECT_EQ(member(value, u"e")->Currency(), -2500);
  EXPECT_EQ(member(value, u"f")->Currency(), 20000);
  // Lenient integer conversion keeps what it has read.
  EXPECT_EQ(member(value, u"g")->Integer(), 0);
  EXPECT_EQ(member(value, u"h")->Integer(), 1);
  EXPECT_EQ(member(value, u"i")->Integer(), 999999999999999999);  // stops before the overflowing digit
  EXPECT_EQ(member(value, u"j")->Integer(), INT64_MIN);
  EXPECT_EQ(member(value, u"k")->Currency(), INT64_MAX);
  // A fixed-point number beyond the currency range is a double instead of a wrapped count.
  EXPECT_EQ(KindOf(member(value, u"l")), TJsonKind::Double);
  EXPECT_DOUBLE_EQ(member(value, u"l")->Double(), 9223372036854775807.5);
  EXPECT_EQ(member(value, u"m")->Currency(), 12000);  // the second "." restarts the decimals

  // Extreme doubles never fail: out of range is infinite or zero.
  const JsonRef extremes = ParseFromText(u"[1e999,-1e999,1e-999,2.5e+1,+1]");
  ASSERT_TRUE(extremes);
  EXPECT_EQ(extremes->Elements()->Get(0)->Double(), HUGE_VAL);
  EXPECT_EQ(extremes->Elements()->Get(1)->Double(), -HUGE_VAL);
  EXPECT_EQ(extremes->Elements()->Get(2)->Double(), 0.0);
  EXPECT_EQ(extremes->Elements()->Get(3)->Double(), 25.0);
  EXPECT_EQ(extremes->Elements()->Get(4)->Text(), u"+1");  // "+" does not start a number

  // No special number words: "-" makes 0 and the letters then break the member separator.
  EXPECT_EQ(statusOf(u"{\"a\":-Infinity}"), TJsonStatus::MemberSeparator);
}

TEST(JsonParse, StringsAndEscapes) {
  const JsonRef value = ParseFromText(uR"(['a"b',"\b\t\n\f\r","\u00e9\x41\q\"\\\/\'","x\u0000y"])");
  ASSERT_EQ(KindOf(value), TJsonKind::Array);
  EXPECT_EQ(value->Elements()->Get(0)->Text(), u"a\"b");
  EXPECT_EQ(value->Elements()->Get(1)->Text(), u"\b\t\n\f\r");
  EXPECT_EQ(value->Elements()->Get(2)->Text(), u"\u00e9Aq\"\\/'");
  EXPECT_EQ(value->Elements()->Get(3)->Text(), std::u16string(u"x\0y", 3));  // U+0000 kept in strings

  // Names stop at U+0000; bare names keep inner and trailing spaces.
  const JsonRef names = ParseFromText(uR"({"n\u0000ame":1, bare name :2})");
  ASSERT_TRUE(names);
  EXPECT_TRUE(member(names, u"n"));
  EXPECT_TRUE(member(names, u"bare name "));

  EXPECT_EQ(statusOf(uR"("\u12G4")"), TJsonStatus::StringOrEscape);
  EXPECT_EQ(statusOf(uR"("\x4")"), TJsonStatus::StringOrEscape);
  EXPECT_EQ(statusOf(u"\"open"), TJsonStatus::EndOfText);
}

TEST(JsonParse, Literals) {
  const JsonRef value = ParseFromText(u"[null,true,false,nul,truex,fals]");
  ASSERT_EQ(KindOf(value), TJsonKind::Array);
  const TJsonArray& list = *value->Elements();
  ASSERT_TRUE(list.Get(0));  // null is a value of the null kind, not none
  EXPECT_EQ(list.Get(0)->Kind(), TJsonKind::Null);
  EXPECT_TRUE(list.Get(1)->Boolean());
  EXPECT_EQ(list.Get(2)->Kind(), TJsonKind::Boolean);
  EXPECT_FALSE(list.Get(2)->Boolean());
  EXPECT_EQ(list.Get(3)->Text(), u"nul");
  EXPECT_EQ(list.Get(4)->Text(), u"truex");
  EXPECT_EQ(list.Get(5)->Text(), u"fals");
}

// The end of the stream does not end a value: a top-level literal or number needs a character
// after it, and text after a complete value is ignored.
TEST(JsonParse, TopLevelEnd) {
  EXPECT_FALSE(parseReply("true"));
  EXPECT_FALSE(parseReply("12"));
  const JsonRef literal = parseReply("true\n");
  ASSERT_EQ(KindOf(literal), TJsonKind::Boolean);
  EXPECT_TRUE(literal->Boolean());
  EXPECT_EQ(parseReply("12 ")->Integer(), 12);
  EXPECT_EQ(parseReply("(7)")->Integer(), 7);  // a "(" before a value is skipped

  const JsonRef trailing = parseReply("{\"a\":1} trailing");
  ASSERT_EQ(KindOf(trailing), TJsonKind::Object);
  EXPECT_EQ(member(trailing, u"a")->Integer(), 1);

  // Without partial input, anything but whitespace after the value gives none.
  testsupport::BytesStream tailed("{\"a\":1} trailing");
  EXPECT_FALSE(ParseFromStream(tailed, false, false));
  testsupport::BytesStream padded("{\"a\":1} \n");
  EXPECT_TRUE(ParseFromStream(padded, false, false));
  EXPECT_FALSE(ParseFromText(u"[1] x", false, false));
  EXPECT_TRUE(ParseFromText(u"[1] ", false, false));
}

TEST(JsonParse, Comments) {
  EXPECT_TRUE(parseReply("/* note */ {\"a\":1}"));
  EXPECT_TRUE(parseReply("/* note */ {\"a\":1} // done\n"));
  EXPECT_TRUE(parseReply("{// one\n\"a\"/**/:/*x*/1}"));
  EXPECT_FALSE(parseReply("/* note */ {\"a\":1} // done"));  // line comment still open at the end
  EXPECT_FALSE(parseReply("// only a comment\n"));

  // "**/" does not close a block comment; the next "*/" does.
  const JsonRef value = parseReply("/* a **/ {\"a\":1} */ {\"b\":2}");
  ASSERT_EQ(KindOf(value), TJsonKind::Object);
  EXPECT_FALSE(member(value, u"a"));
  EXPECT_TRUE(member(value, u"b"));

  EXPECT_EQ(statusOf(u"/x"), TJsonStatus::Comment);
  EXPECT_EQ(statusOf(u"/* open"), TJsonStatus::EndOfText);
}

TEST(JsonParse, FailureKinds) {
  EXPECT_EQ(statusOf(u"[1 2]"), TJsonStatus::ArraySeparator);
  EXPECT_EQ(statusOf(u"{,}"), TJsonStatus::MemberStart);
  EXPECT_EQ(statusOf(u"{\"a\" 1}"), TJsonStatus::MemberNameEnd);
  EXPECT_EQ(statusOf(u"{a}"), TJsonStatus::MemberNameEnd);
  EXPECT_EQ(statusOf(u"{\"a\":1 \"b\":2}"), TJsonStatus::MemberSeparator);
  EXPECT_EQ(statusOf(u"{\"a\":"), TJsonStatus::MemberSeparator);  // the end makes an empty bare word
  EXPECT_EQ(statusOf(u"{\"a\":\"x"), TJsonStatus::EndOfText);
  EXPECT_EQ(statusOf(u"{\"a\":1}"), TJsonStatus::Success);
  EXPECT_EQ(statusOf(u"[true1]"), TJsonStatus::ArraySeparator);
  EXPECT_EQ(statusOf(u"{\"a\":1,:2}"), TJsonStatus::MemberStart);  // ":" cannot start a name
}

// Nesting is limited to 32 levels: a container at level 31 may only stay empty.
TEST(JsonParse, DepthLimit) {
  const auto nested = [](int count, const std::u16string& inner) {
    return std::u16string(count, u'[') + inner + std::u16string(count, u']');
  };
  JsonRef value = ParseFromText(nested(31, u"1"));
  ASSERT_TRUE(value);
  for (int i = 0; i < 30; ++i) value = value->Elements()->Get(0);
  EXPECT_EQ(value->Elements()->Get(0)->Integer(), 1);

  EXPECT_TRUE(ParseFromText(nested(32, u"")));
  EXPECT_EQ(statusOf(nested(32, u"1")), TJsonStatus::Depth);
  EXPECT_EQ(statusOf(nested(100000, u"")), TJsonStatus::Depth);

  std::u16string objects;  // 31 objects, each opening a member
  for (int i = 0; i < 31; ++i) objects += u"{\"a\":";
  EXPECT_TRUE(ParseFromText(objects + u"1" + std::u16string(31, u'}')));
  EXPECT_TRUE(ParseFromText(objects + u"{}" + std::u16string(31, u'}')));
  EXPECT_EQ(statusOf(objects + u"{\"a\":1}" + std::u16string(31, u'}')), TJsonStatus::Depth);
}

TEST(JsonParse, DuplicateNamesKeepTheLast) {
  const JsonRef value = ParseFromText(u"{\"a\":1,\"a\":2,'a':3,a:4}");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->Members()->Count(), 1u);
  EXPECT_EQ(member(value, u"a")->Integer(), 4);
}

TEST(JsonParse, StreamEncodings) {
  // FF FE at the current position: UTF-16 LE from there.
  std::u16string wideText = u"{\"n\u00e9\":\"\u0416\"}";
  std::string wide = "junk\xFF\xFE";
  for (char16_t c : wideText) wide += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  testsupport::BytesStream wideStream(wide);
  wideStream.SetPosition(4);
  const JsonRef fromWide = ParseFromStream(wideStream);
  ASSERT_TRUE(fromWide);
  EXPECT_EQ(member(fromWide, u"n\u00e9")->Text(), u"\u0416");

  // The same bytes read from short reads that split characters.
  TrickleStream trickle(wide, 3);
  trickle.SetPosition(4);
  const JsonRef fromTrickle = ParseFromStream(trickle);
  ASSERT_TRUE(fromTrickle);
  EXPECT_EQ(member(fromTrickle, u"n\u00e9")->Text(), u"\u0416");

  // Anything else is read from position 0, one character per byte: UTF-8 é is two characters.
  testsupport::BytesStream bytes("{\"a\":\"\xC3\xA9\"}");
  bytes.SetPosition(3);
  const JsonRef fromBytes = ParseFromStream(bytes);
  ASSERT_TRUE(fromBytes);
  EXPECT_EQ(member(fromBytes, u"a")->Text(), u"\u00c3\u00a9");
}

// Tokens span chunk boundaries, both of the stream's 1024-byte reads and of direct runs.
TEST(JsonParse, Chunks) {
  std::string document = "{\"pad\":\"" + std::string(1015, 'x') + "\",\"long\":\"" + std::string(3000, 'y') +
                         "\",\"n\":123456,\"success\":true}";
  testsupport::BytesStream stream(document);
  const JsonRef value = ParseFromStream(stream);
  ASSERT_TRUE(value);
  EXPECT_EQ(member(value, u"long")->Text().size(), 3000u);
  EXPECT_EQ(member(value, u"n")->Integer(), 123456);
  EXPECT_TRUE(value->BoolAt(u"success"));

  TJsonTokenizer tokenizer;
  const std::u16string text = u"[12, tru";
  EXPECT_FALSE(tokenizer.ParseChunk(text.data(), static_cast<std::int64_t>(text.size()), false, nullptr));
  EXPECT_EQ(tokenizer.Status(), TJsonStatus::Continue);
  const std::u16string rest = u"e]";
  const JsonRef list = tokenizer.ParseChunk(rest.data(), 2, false, nullptr);
  EXPECT_EQ(tokenizer.Status(), TJsonStatus::Success);
  ASSERT_TRUE(list);
  EXPECT_EQ(list->Elements()->Get(0)->Integer(), 12);
  EXPECT_TRUE(list->Elements()->Get(1)->Boolean());
}

// Huge strings and long numbers are read whole, without error.
TEST(JsonParse, LargeTokens) {
  const std::string digits(100000, '7');
  testsupport::BytesStream numbers("[" + digits + "," + digits + ".5," + digits + "e-99999,\"" +
                                  std::string(2000000, 's') + "\"]");
  const JsonRef value = ParseFromStream(numbers);
  ASSERT_EQ(KindOf(value), TJsonKind::Array);
  EXPECT_EQ(value->Elements()->Get(0)->Integer(), 7777777777777777777);  // stops before overflowing
  EXPECT_EQ(value->Elements()->Get(1)->Kind(), TJsonKind::Double);     // too large for currency
  EXPECT_EQ(value->Elements()->Get(1)->Double(), HUGE_VAL);
  EXPECT_DOUBLE_EQ(value->Elements()->Get(2)->Double(), 7.777777777777778);
  EXPECT_EQ(value->Elements()->Get(3)->Text().size(), 2000000u);
}

TEST(JsonParse, LineAndColumn) {
  TJsonTokenizer tokenizer;
  const std::u16string text = u"[1,\n\t2,\n  3]";
  tokenizer.ParseChunk(text.data(), static_cast<std::int64_t>(text.size()), false, nullptr);
  EXPECT_EQ(tokenizer.Line(), 3);
  EXPECT_EQ(tokenizer.Column(), 4);
}

}  // namespace
}  // namespace json
