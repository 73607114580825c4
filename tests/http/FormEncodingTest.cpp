// Form encoding: the value encoding and the body text of a parameter list.
#include <gtest/gtest.h>

#include "http/FormEncoding.h"
#include "http/TNetURI.h"
#include "tests/support/ErrorMessage.h"

using net::BuildFormText;
using net::EncodeParamValue;
using net::TNetHTTPOption;
using net::TNetHTTPOptions;

namespace {

const TNetHTTPOptions kFresh{TNetHTTPOption::hoForceEncodeParams};

// The existence query's parameter list: "&name=" + name and "version=" + version.
std::u16string existenceBody(std::u16string_view name, std::u16string_view version) {
  rt::TStringList list;
  list.Add(u"&name=" + std::u16string(name));
  list.Add(u"version=" + std::u16string(version));
  return BuildFormText(list, kFresh);
}

std::u16string surrogateMessage(std::u16string_view text) {
  return testsupport::messageOf<net::EEncodingError>([&] { EncodeParamValue(text); });
}

}  // namespace

// The existence query body: parameter separators raw, values arrive exactly as they are.
TEST(FormEncoding, ExistenceQueryBody) {
  EXPECT_EQ(existenceBody(u"My App", u"1.2.3.4"), u"&name=My%20App&version=1.2.3.4");
  EXPECT_EQ(existenceBody(u"AT&T", u"1.0.0.0"), u"&name=AT%26T&version=1.0.0.0");
  EXPECT_EQ(existenceBody(u"Notepad++", u"8.5.0.0"), u"&name=Notepad%2B%2B&version=8.5.0.0");
  EXPECT_EQ(existenceBody(u"a=b", u"0.0.0.0"), u"&name=a%3Db&version=0.0.0.0");
  EXPECT_EQ(existenceBody(u"Caf\u00E9 \u4E2D", u"1.0.0.0"), u"&name=Caf%C3%A9%20%E4%B8%AD&version=1.0.0.0");
  // A value ending in a space keeps its escape: trimming comes after encoding.
  EXPECT_EQ(existenceBody(u"App ", u"1.0.0.0"), u"&name=App%20&version=1.0.0.0");
}

TEST(FormEncoding, EncodeParamValueCharacterClasses) {
  // The unsafe set and the form syntax characters.
  EXPECT_EQ(EncodeParamValue(u"a*b#c%"), u"a%2Ab%23c%25");
  EXPECT_EQ(EncodeParamValue(u"<> []&+="), u"%3C%3E%20%5B%5D%26%2B%3D");
  // Controls are encoded (a line break does not split the line); other ASCII stays raw.
  EXPECT_EQ(EncodeParamValue(u"a\tb\r\nc"), u"a%09b%0D%0Ac");
  EXPECT_EQ(EncodeParamValue(std::u16string(1, u'\0')), u"%00");
  EXPECT_EQ(EncodeParamValue(u"/?\"'~!$(),;:@\\^`{|}\u007F"), u"/?\"'~!$(),;:@\\^`{|}\u007F");
  // Above U+007F: the UTF-8 bytes, upper-case hex; a surrogate pair is one code point.
  EXPECT_EQ(EncodeParamValue(u"\u00E9\u20AC\u4E2D"), u"%C3%A9%E2%82%AC%E4%B8%AD");
  EXPECT_EQ(EncodeParamValue(u"\U0001F600"), u"%F0%9F%98%80");
  EXPECT_EQ(EncodeParamValue(u"\uFFFF"), u"%EF%BF%BF");
  EXPECT_EQ(net::TNetURI::EncodeParamValue(u"a b"), u"a%20b");
}

TEST(FormEncoding, LoneSurrogatesFailWithOneBasedIndex) {
  const std::u16string high(1, char16_t(0xD83D)), low(1, char16_t(0xDE00));
  EXPECT_EQ(surrogateMessage(u"ab" + high),
            u"High surrogate char without a following low surrogate char at index: 3. "
            u"Check that the string is encoded properly");
  EXPECT_EQ(surrogateMessage(high + u"x"),
            u"High surrogate char without a following low surrogate char at index: 1. "
            u"Check that the string is encoded properly");
  EXPECT_EQ(surrogateMessage(u"x" + low + high),
            u"Low surrogate char without a preceding high surrogate char at index: 2. "
            u"Check that the string is encoded properly");
  EXPECT_EQ(surrogateMessage(high + high + low),
            u"High surrogate char without a following low surrogate char at index: 1. "
            u"Check that the string is encoded properly");
}

TEST(FormEncoding, BuildFormTextJoiningAndListRewriting) {
  rt::TStringList list;
  list.Add(u"a=1");
  list.Add(u"b=2 3");
  list.Add(u"flag");
  list.Add(u"c==x&y");
  EXPECT_EQ(BuildFormText(list, kFresh), u"a=1&b=2%203&flag&c=%3Dx%26y");
  // The caller's list was rewritten in place.
  EXPECT_EQ(list[1], u"b=2%203");
  EXPECT_EQ(list[2], u"flag");

  // One line: trimmed, nothing joined.
  rt::TStringList one;
  one.Add(u"  x=1\u0001");
  EXPECT_EQ(BuildFormText(one, TNetHTTPOptions{}), u"x=1");

  // Without encoding the lines are joined as they are and the list stays.
  rt::TStringList raw;
  raw.Add(u"a=b c");
  raw.Add(u"d=&");
  EXPECT_EQ(BuildFormText(raw, TNetHTTPOptions{}), u"a=b c&d=&");
  EXPECT_EQ(raw[0], u"a=b c");

  rt::TStringList empty;
  EXPECT_EQ(BuildFormText(empty, kFresh), u"");
}
