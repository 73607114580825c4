// The MIME table over the platform table Linux reads: a mime.types file of the test's own (its
// syntax, garbled lines, repeated extensions, and the one-extension pass over arbitrary text).
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/ContentTypes.h"
#include "runtime/TStringList.h"
#include "runtime/Text.h"
#include "service/TNetMimeTable.h"
#include "tests/support/TempFolder.h"

namespace {

using service::TNetMimeTable;

// Points the platform pass at a file of the test's own (a missing one by default) and restores
// the system's table afterwards.
class PosixMimeTable : public testing::Test {
 protected:
  testsupport::TempFolder folder;
  PosixMimeTable() { platform::setContentTypesFile(folder.file("absent.types")); }
  ~PosixMimeTable() override { platform::setContentTypesFile(u""); }

  void useTypesFile(const std::string& text) {
    testsupport::writeFileBytes(folder.path() / "mime.types", text);
    platform::setContentTypesFile(folder.file("mime.types"));
  }
};

// The platform pass: registrations replace built-in lines in place (lower-cased), new
// extensions are appended, a later registration wins, and garbled entries are skipped.
TEST_F(PosixMimeTable, PlatformTableOverridesBuiltInLinesAndSkipsGarbledEntries) {
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
TEST_F(PosixMimeTable, PlatformRegistrationOfARepeatedExtensionWins) {
  useTypesFile("audio/mpeg mp3\n");
  EXPECT_EQ(service::MimeTypeForFile(u"song.mp3"), u"audio/mpeg");
}

// The upload's lookup (MimeTypeForFile: a table filled with the lines of one extension alone)
// and a table filled with every registration give the same answers: a later registration of an
// extension wins whatever the case it is written in, a garbled one is skipped, built-in lines the
// platform does not name keep their type, and an upper-case extension in the path finds them all.
TEST_F(PosixMimeTable, TheUploadsAnswerIsTheFullTablesOverATypesFile) {
  useTypesFile("image/vnd.microsoft.icon ico\naudio/mpeg mp3 MP2\nx/first dup\nx/second DUP\nbad dup2=\n");
  TNetMimeTable table(true);
  const std::pair<const char16_t*, const char16_t*> answers[] = {
      {u"C:\\dir.d/file.ICO", u"image/vnd.microsoft.icon"}, {u"f.Mp2", u"audio/mpeg"}, {u"f.MP3", u"audio/mpeg"},
      {u"f.DUP", u"x/second"}, {u"f.dup2", u"application/octet-stream"}, {u"f.XML", u"text/xml"},
      {u"f.xbm", u"image/xbm"}};
  for (const auto& [path, type] : answers) {
    EXPECT_EQ(table.LookupMimeType(path), type) << rt::toUtf8(path);
    EXPECT_EQ(service::MimeTypeForFile(path), type) << rt::toUtf8(path);
  }
}

// The one-extension pass reports exactly the registrations the full pass reports for that
// extension, in the same order, whatever the text around it: lines built from words that hold
// the extension's text in other cases, inside longer words, after a comment mark, at every byte
// offset, with and without a final line break.
TEST_F(PosixMimeTable, OneExtensionPassMatchesTheFullPass) {
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
TEST_F(PosixMimeTable, OneExtensionPassFindsTheLineAtEveryOffset) {
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
