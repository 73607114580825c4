// TNetHeaderList: name lookup, unfolding, SetHeader replacement and deletion, folding.
#include <gtest/gtest.h>

#include <string>

#include "http/TNetHeaderList.h"

using net::TNetHeaderList;

namespace {

TNetHeaderList listOf(std::initializer_list<const char16_t*> lines, int width = 78) {
  TNetHeaderList list(width);
  for (const char16_t* line : lines) list.Add(line);
  return list;
}

// Words "w00 w01 ..." joined by `separator`.
std::u16string words(int count, std::u16string_view separator = u" ") {
  std::u16string text;
  for (int i = 0; i < count; ++i) {
    if (i > 0) text += separator;
    text += u"w";
    text += static_cast<char16_t>(u'0' + i / 10 % 10);
    text += static_cast<char16_t>(u'0' + i % 10);
  }
  return text;
}

}  // namespace

// Names: case-insensitive, not trimmed, up to the first ":".
TEST(TNetHeaderList, FindsNamesCaseInsensitivelyButUntrimmed) {
  const TNetHeaderList list = listOf({u"content-LENGTH: 12", u"Content-Type : text/plain", u"no colon here",
                                      u"X-Time: 10:20:30", u"content-length: 99"});
  EXPECT_EQ(list.ValueOf(u"Content-Length"), u"12");
  EXPECT_EQ(list.FindName(u"CONTENT-length"), 0);
  // A blank before the colon is part of the name.
  EXPECT_EQ(list.NameAt(1), u"Content-Type ");
  EXPECT_EQ(list.FindName(u"Content-Type"), -1);
  EXPECT_EQ(list.ValueOf(u"Content-Type"), u"");
  EXPECT_EQ(list.NameAt(2), u"");
  // Only the first ":" separates.
  EXPECT_EQ(list.ValueOf(u"X-Time"), u"10:20:30");
  EXPECT_EQ(list.ValueAt(-1), u"");
  EXPECT_EQ(list.ValueAt(5), u"");
  EXPECT_EQ(list.NameAt(7), u"");
}

// Continuation lines (space or tab) join with one space; values are trimmed.
TEST(TNetHeaderList, UnfoldsContinuationLines) {
  TNetHeaderList list = listOf({u"X-A: one", u"\ttwo", u"   three  ", u"X-B:   padded\t ", u"X-C:", u" later"});
  EXPECT_EQ(list.ValueOf(u"X-A"), u"one two three");
  EXPECT_EQ(list.ValueOf(u"X-B"), u"padded");
  EXPECT_EQ(list.ValueOf(u"X-C"), u"later");
}

TEST(TNetHeaderList, ExtractAllCollectsEveryLineOfTheName) {
  const TNetHeaderList list =
      listOf({u"WWW-Authenticate: Basic realm=\"a\"", u"Server: x", u"www-authenticate: Digest", u"  nonce=1"});
  rt::TStringList values;
  values.Add(u"kept");
  list.ExtractAll(u"WWW-Authenticate", values);
  ASSERT_EQ(values.Count(), 3);
  EXPECT_EQ(values[1], u"Basic realm=\"a\"");
  EXPECT_EQ(values[2], u"Digest nonce=1");
}

// SetHeader replaces the first line of a name in place, with the name as passed; an empty value
// deletes only the first line (with its continuation lines).
TEST(TNetHeaderList, SetHeaderReplacesAppendsAndDeletesFirstLineOnly) {
  TNetHeaderList list = listOf({u"Accept: */*", u"host: old", u"  old-continuation", u"X: 1", u"X: 2"});
  list.SetHeader(u"Host", u"new:8080");
  ASSERT_EQ(list.Count(), 4);
  EXPECT_EQ(list[1], u"Host: new:8080");
  EXPECT_EQ(list[2], u"X: 1");

  list.SetHeader(u"Date", u"today   ");
  EXPECT_EQ(list[4], u"Date: today");  // trailing blanks are not written

  list.SetHeader(u"x", u"");
  ASSERT_EQ(list.Count(), 4);
  EXPECT_EQ(list[2], u"X: 2");
  list.SetHeader(u"Missing", u"");
  EXPECT_EQ(list.Count(), 4);

  list = listOf({u"A: 1", u" more", u"B: 2"});
  list.SetHeader(u"A", u"");
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list[0], u"B: 2");
}

// Long lines wrap at blanks/commas into continuation lines that unfold back to the value.
TEST(TNetHeaderList, FoldsLongValuesAndUnfoldsThemBack) {
  TNetHeaderList list(78);
  const std::u16string spaced = words(60);
  const std::u16string commas = words(40, u", ");
  list.SetHeader(u"X-Spaced", spaced);
  list.SetHeader(u"X-Commas", commas);
  ASSERT_GT(list.Count(), 4);
  for (int i = 0; i < list.Count(); ++i) {
    // The width, plus the continuation space and a blank passed over after a comma.
    EXPECT_LE(list[i].size(), 80u) << i;
    EXPECT_FALSE(list[i].empty());
    EXPECT_NE(list[i].back(), u' ');
  }
  EXPECT_EQ(list[0].substr(0, 10), u"X-Spaced: ");
  EXPECT_EQ(list[1][0], u' ');
  EXPECT_EQ(list.ValueOf(u"X-Spaced"), spaced);
  EXPECT_EQ(list.ValueOf(u"X-Commas"), commas);

  // Replacing a folded header removes its old continuation lines.
  const int before = list.Count();
  list.SetHeader(u"X-Spaced", u"short");
  EXPECT_EQ(list[0], u"X-Spaced: short");
  EXPECT_LT(list.Count(), before);
  EXPECT_EQ(list.ValueOf(u"X-Commas"), commas);
}

TEST(TNetHeaderList, FoldKeepsQuotedRunsAndHonoursExistingBreaks) {
  // No break inside double quotes, even far past the width.
  const std::u16string quoted = u"\"" + words(30) + u"\"";
  const rt::TStringList pieces = TNetHeaderList::FoldLine(u"Content-Disposition: form-data; name=" + quoted + u"; x=1", 78);
  bool found = false;
  for (const auto& piece : pieces) found = found || piece.find(quoted) != std::u16string::npos;
  EXPECT_TRUE(found);

  // An existing CR LF + space is a break, even in a line shorter than the width.
  const rt::TStringList shortLine = TNetHeaderList::FoldLine(u"X: a\r\n b", 78);
  ASSERT_EQ(shortLine.Count(), 2);
  EXPECT_EQ(shortLine[0], u"X: a");
  EXPECT_EQ(shortLine[1], u" b");
  const rt::TStringList longLine = TNetHeaderList::FoldLine(u"X: " + words(3) + u"\r\n " + words(30), 78);
  ASSERT_GE(longLine.Count(), 3);
  EXPECT_EQ(longLine[0], u"X: " + words(3));

  // Lines up to the width come back as they are, but for trailing blanks.
  const std::u16string exact = u"X: " + std::u16string(75, u'y');
  ASSERT_EQ(TNetHeaderList::FoldLine(exact, 78).Count(), 1);
  EXPECT_EQ(TNetHeaderList::FoldLine(exact, 78)[0], exact);
  EXPECT_EQ(TNetHeaderList::FoldLine(u"X: a \t ", 78)[0], u"X: a");
  // A word longer than the width moves whole to a continuation line.
  const rt::TStringList unbreakable = TNetHeaderList::FoldLine(u"X: " + std::u16string(200, u'z'), 78);
  ASSERT_EQ(unbreakable.Count(), 2);
  EXPECT_EQ(unbreakable[0], u"X:");
  EXPECT_EQ(unbreakable[1], u" " + std::u16string(200, u'z'));
}
