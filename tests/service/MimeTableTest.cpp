// The MIME table: built-in lines, lookup by extension, the pair loader and the platform pass
// over a mime.types file of the test's own.
#include <gtest/gtest.h>

#include "http/NetExceptions.h"
#include "platform/ContentTypes.h"
#include "runtime/Text.h"
#include "service/TNetMimeTable.h"
#include "tests/support/TempFolder.h"

namespace {

using service::TNetMimeTable;

// Points the platform pass at a file of the test's own (a missing one by default) and restores
// the system's table afterwards.
class MimeTable : public testing::Test {
 protected:
  testsupport::TempFolder folder;
  MimeTable() { platform::setContentTypesFile(folder.file("absent.types")); }
  ~MimeTable() override { platform::setContentTypesFile(u""); }

  void useTypesFile(const std::string& text) {
    testsupport::writeFileBytes(folder.path() / "mime.types", text);
    platform::setContentTypesFile(folder.file("mime.types"));
  }
};

// The built-in list: 314 lines in their fixed order; the three repeated extensions keep their
// first line once loaded.
TEST_F(MimeTable, BuiltInLinesKeepTheirOrderAndTheEarlierLineWins) {
  rt::TStringList lines;
  service::FillMimeList(&lines, false);
  ASSERT_EQ(lines.Count(), 314);
  EXPECT_EQ(lines[0], u".nml=animation/narrative");
  EXPECT_EQ(lines[25], u".ico=image/x-icon");
  EXPECT_EQ(lines[313], u".sgml=text/sgml");

  service::FillMimeList(&lines, false);  // a list with lines is left alone
  EXPECT_EQ(lines.Count(), 314);

  TNetMimeTable table(false);
  table.LoadFromPlatform = false;
  table.EnsureFilled();
  EXPECT_EQ(table.ExtensionList().Count(), 311);
  EXPECT_EQ(table.LookupMimeType(u"a.mp3"), u"audio/x-mpg");
  EXPECT_EQ(table.LookupMimeType(u"a.xbm"), u"image/xbm");
  EXPECT_EQ(table.LookupMimeType(u"a.xml"), u"text/xml");
  for (const char* known : {".bmp=image/bmp", ".gif=image/gif", ".jpg=image/jpeg", ".png=image/x-png",
                            ".txt=text/plain"}) {
    const std::u16string line = rt::u16(known);
    EXPECT_EQ(table.LookupMimeType(u"x" + line.substr(0, line.find(u'='))), line.substr(line.find(u'=') + 1)) << known;
  }
}

// Which part of a path is the extension, and its case.
TEST_F(MimeTable, ExtensionIsTheTextAfterTheLastDotOfTheFileName) {
  EXPECT_EQ(service::MimeTypeForFile(u"C:\\image\\0.ico"), u"image/x-icon");
  EXPECT_EQ(service::MimeTypeForFile(u"/tmp/prog/image/0.ICO"), u"image/x-icon");
  EXPECT_EQ(service::MimeTypeForFile(u"C:\\image\\README"), u"application/octet-stream");
  EXPECT_EQ(service::MimeTypeForFile(u"C:\\my.folder\\icon"), u"application/octet-stream");
  EXPECT_EQ(service::MimeTypeForFile(u"/home/my.ico/icon"), u"application/octet-stream");
  EXPECT_EQ(service::MimeTypeForFile(u"x.ico:stream"), u"application/octet-stream");
  EXPECT_EQ(service::MimeTypeForFile(u""), u"application/octet-stream");
  EXPECT_EQ(service::MimeTypeForFile(u"archive.unknownext"), u"application/octet-stream");
}

// AddMimePair: lower-casing, the leading dot, its three failures raised or skipped.
TEST_F(MimeTable, AddMimePairNormalisesAndReportsItsThreeFailures) {
  TNetMimeTable table(false);
  table.AddMimePair(u"ICO", u"Image/X-Icon", true);
  EXPECT_EQ(table.ExtensionList()[0], u".ico");
  EXPECT_EQ(table.TypeList()[0], u"image/x-icon");

  auto messageOf = [&](std::u16string_view ext, std::u16string_view type) -> std::u16string {
    try {
      table.AddMimePair(ext, type, true);
    } catch (const net::ENetException& error) {
      return error.Message();
    }
    return u"(no error)";
  };
  EXPECT_EQ(messageOf(u"", u"a/b"), u"Extension is empty");
  EXPECT_EQ(messageOf(u".x", u""), u"Mimetype is empty");
  EXPECT_EQ(messageOf(u".ICO", u"a/b"), u"Extension already exits");

  table.AddMimePair(u".ico", u"other/type", false);  // skipped silently
  table.AddMimePair(u"", u"a/b", false);
  EXPECT_EQ(table.ExtensionList().Count(), 1);
  EXPECT_EQ(table.LookupMimeType(u"x.ico"), u"image/x-icon");
}

// LoadMimePairs replaces the table; lines without the separator, empty halves and repeats drop.
TEST_F(MimeTable, LoadMimePairsReplacesTheTable) {
  TNetMimeTable table(false);
  table.AddMimePair(u".old", u"old/type", true);
  rt::TStringList lines;
  for (const char16_t* line : {u".A=type/a", u"no separator", u"=x/y", u".b=", u".a=type/second", u"c:type/c",
                               u".d=type/d=with=equals"})
    lines.Add(line);
  table.LoadMimePairs(lines, u'=');
  ASSERT_EQ(table.ExtensionList().Count(), 2);
  EXPECT_EQ(table.ExtensionList()[0], u".a");
  EXPECT_EQ(table.TypeList()[0], u"type/a");
  EXPECT_EQ(table.TypeList()[1], u"type/d=with=equals");

  table.LoadMimePairs(lines, u':');
  EXPECT_EQ(table.LookupMimeType(u"f.c"), u"type/c");
  EXPECT_EQ(table.LookupMimeType(u"f.old"), u"application/octet-stream");
}

// The build hook replaces the default filling, and a lookup of an unknown extension asks again.
TEST_F(MimeTable, BuildHookReplacesTheDefaultFilling) {
  TNetMimeTable table(false);
  int builds = 0;
  table.OnBuildCache = [&](TNetMimeTable& self) {
    ++builds;
    if (self.ExtensionList().Count() == 0) self.AddMimePair(u".q", u"x/q", true);
  };
  EXPECT_EQ(table.LookupMimeType(u"f.q"), u"x/q");
  EXPECT_EQ(table.LookupMimeType(u"f.ico"), u"application/octet-stream");
  EXPECT_EQ(builds, 2);
}

// The platform pass: registrations replace built-in lines in place (lower-cased), new
// extensions are appended, a later registration wins, and garbled entries are skipped.
TEST_F(MimeTable, PlatformTableOverridesBuiltInLinesAndSkipsGarbledEntries) {
  useTypesFile(
      "# comment line\n"
      "Image/VND.Microsoft.Icon\tico ICX\n"
      "application/x-first  same\r\n"
      "application/x-second same   # trailing comment\n"
      "text/x-new .newext\n"
      "notatype          bad1\n"
      "bad/type/x        bad2\n"
      "bad\x01/type      bad3\n"
      "app/ok            good bad=eq bad/slash b\xc3\xa9\n"
      "text/novalue\n"
      "\n"
      "application/last  lastline");  // no final line break
  rt::TStringList lines;
  service::FillMimeList(&lines, true);
  EXPECT_EQ(lines[25], u".ico=image/vnd.microsoft.icon");
  EXPECT_EQ(lines[314], u".icx=image/vnd.microsoft.icon");
  EXPECT_EQ(lines[5], u".m3u=audio/x-mpegurl");

  EXPECT_EQ(service::MimeTypeForFile(u"0.ICO"), u"image/vnd.microsoft.icon");
  EXPECT_EQ(service::MimeTypeForFile(u"x.same"), u"application/x-second");
  EXPECT_EQ(service::MimeTypeForFile(u"x.newext"), u"text/x-new");
  EXPECT_EQ(service::MimeTypeForFile(u"x.good"), u"app/ok");
  EXPECT_EQ(service::MimeTypeForFile(u"x.lastline"), u"application/last");
  for (const char16_t* garbled : {u"x.bad1", u"x.bad2", u"x.bad3", u"x.bad"})
    EXPECT_EQ(service::MimeTypeForFile(garbled), u"application/octet-stream") << rt::toUtf8(garbled);
  for (const auto& line : lines) EXPECT_EQ(line.find(u"bad"), std::u16string::npos) << rt::toUtf8(line);
}

// A repeated built-in extension (.mp3) registered by the platform replaces its first line only,
// so the registration wins over both built-in lines.
TEST_F(MimeTable, PlatformRegistrationOfARepeatedExtensionWins) {
  useTypesFile("audio/mpeg mp3\n");
  EXPECT_EQ(service::MimeTypeForFile(u"song.mp3"), u"audio/mpeg");
}

}  // namespace

namespace {

// A single lookup, made without building the whole table, answers what a filled table answers
// for every extension it holds, with the test's table and with the system's own.
TEST_F(MimeTable, SingleLookupAgreesWithTheFilledTable) {
  for (const bool systemTable : {false, true}) {
    if (systemTable) {
      platform::setContentTypesFile(u"");
    } else {
      useTypesFile("image/vnd.microsoft.icon ico\naudio/mpeg mp3 MP2\nx/first dup\nx/second DUP\nbad dup2=\n");
    }
    TNetMimeTable table(true);
    ASSERT_GE(table.ExtensionList().Count(), 311);
    for (int i = 0; i < table.ExtensionList().Count(); ++i) {
      const std::u16string path = u"C:\\dir.d/file" + rt::upperCase(table.ExtensionList()[i]);
      ASSERT_EQ(service::MimeTypeForFile(path), table.LookupMimeType(path)) << rt::toUtf8(path);
    }
  }
}

}  // namespace

namespace {

// The one-extension pass reports exactly the registrations the full pass reports for that
// extension, in the same order, whatever the text around it: lines built from words that hold
// the extension's text in other cases, inside longer words, after a comment mark, at every byte
// offset, with and without a final line break.
TEST_F(MimeTable, OneExtensionPassMatchesTheFullPass) {
  const char* words[] = {"ico", "ICO", "iCo", "icon", "pico", ".ico", "#", "#ico", "x/ico", "bad/", "ic", "o", "\t"};
  const char* types[] = {"image/x-icon", "x/ico", "bad", "#", "ico"};
  std::string text;
  unsigned seed = 7;
  auto next = [&seed](unsigned range) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % range;
  };
  for (int line = 0; line < 300; ++line) {
    text += std::string(next(9), ' ') + types[next(5)];
    for (unsigned n = next(5); n > 0; --n) text += std::string(1 + next(2), ' ') + words[next(13)];
    text += next(4) == 0 ? "\r\n" : "\n";
  }
  text += "image/last ico";  // no final line break
  useTypesFile(text);

  using Calls = std::vector<std::pair<std::u16string, std::u16string>>;
  Calls all;
  platform::enumerateContentTypes([&all](const std::u16string& e, const std::u16string& t) { all.emplace_back(e, t); });
  for (const std::u16string wanted : {u".ico", u".ICO", u".icon", u".o", u".pico", u".ic"}) {
    Calls expected, got;
    for (const auto& call : all)
      if (rt::sameTextAscii(call.first, wanted)) expected.push_back(call);
    platform::enumerateContentTypes(
        [&got](const std::u16string& e, const std::u16string& t) { got.emplace_back(e, t); }, wanted);
    EXPECT_EQ(got, expected) << rt::toUtf8(wanted);
    if (wanted == u".ico") {
      EXPECT_GT(expected.size(), 20u);
    }
  }
}

// The one-extension scan steps through the table in blocks: the wanted line is found wherever it
// lies against a block's edges, after near misses ("i?o" words, the text without a word break)
// in the same block, and at the very end of the table.
TEST_F(MimeTable, OneExtensionPassFindsTheLineAtEveryOffset) {
  for (std::size_t pad = 0; pad < 140; ++pad) {
    for (const bool last : {false, true}) {
      const std::string filler = "# ixo radio " + std::string(pad, 'x') + "\nx/y picot ICOS\n";
      const std::string line = "image/Found .IcO";
      useTypesFile(filler + line + (last ? "" : "\nx/after\n"));
      std::vector<std::u16string> got;
      platform::enumerateContentTypes(
          [&got](const std::u16string& e, const std::u16string& t) { got.push_back(e + u"=" + t); }, u".ico");
      EXPECT_EQ(got, std::vector<std::u16string>{u".IcO=image/Found"}) << pad << (last ? " last" : "");
    }
  }
}

}  // namespace
