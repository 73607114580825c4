// The MIME table: built-in lines, lookup by extension, the pair loader and the platform pass
// over a registry-like table of the test's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "http/NetExceptions.h"
#include "platform/ContentTypeRegistry.h"
#include "platform/ContentTypes.h"
#include "runtime/Text.h"
#include "service/TNetMimeTable.h"
#include "tests/support/ErrorMessage.h"
#include "tests/support/TempFolder.h"

namespace {

using service::TNetMimeTable;

// Points the platform pass at a missing file of the test's own, so that only the built-in lines
// and a registry of the test's own are read, and restores the system's table afterwards.
class MimeTable : public testing::Test {
 protected:
  testsupport::TempFolder folder;
  MimeTable() { platform::setContentTypesFile(folder.file("absent.types")); }
  ~MimeTable() override { platform::setContentTypesFile(u""); }
};

// A registry-like table of text values under key paths; a value listed in `numbers` is stored as a
// number (the wrong type). Key paths are found without regard to case, as the registry finds them.
class TextRegistry final : public platform::ContentTypeRegistry {
 public:
  std::map<std::pair<std::u16string, std::u16string>, std::u16string> text;
  std::set<std::pair<std::u16string, std::u16string>> numbers;

  std::vector<std::u16string> subkeyNames(const std::u16string& keyPath) override {
    const std::u16string prefix = keyPath.empty() ? u"" : keyPath + u'\\';
    std::vector<std::u16string> names;
    for (const auto& [key, value] : text) {
      if (key.first.rfind(prefix, 0) != 0) continue;
      const std::u16string rest = key.first.substr(prefix.size());
      if (!rest.empty() && rest.find(u'\\') == std::u16string::npos &&
          std::find(names.begin(), names.end(), rest) == names.end())
        names.push_back(rest);
    }
    return names;
  }

  bool readValue(const std::u16string& keyPath, const std::u16string& name, platform::RegistryValue& value) override {
    const auto found = std::find_if(text.begin(), text.end(), [&](const auto& entry) {
      return entry.first.second == name && rt::lowerCase(entry.first.first) == rt::lowerCase(keyPath);
    });
    if (found == text.end()) return false;
    value = {};
    value.type = numbers.count(found->first) ? platform::kRegistryNumber : platform::kRegistryText;
    for (const char16_t c : found->second + u'\0') {
      value.data.push_back(static_cast<std::uint8_t>(c & 0xFF));
      value.data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return true;
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

  auto messageOf = [&](std::u16string_view ext, std::u16string_view type) {
    return testsupport::messageOf<net::ENetException>([&] { table.AddMimePair(ext, type, true); });
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

// The platform pass, fed through the registry pass that Windows makes over the classes root (the
// same entries on every platform): registrations replace built-in lines in place (lower-cased),
// new extensions are appended, the type database's registration of a repeated built-in extension
// (.mp3) wins over both built-in lines, and a value of the wrong type is skipped. (The mime.types
// file that Linux reads: PosixMimeTableTest.cpp.)
TEST_F(MimeTable, RegistryRegistrationsOverrideBuiltInLines) {
  auto registry = std::make_shared<TextRegistry>();
  registry->text[{u".ICO", u"Content Type"}] = u"Image/VND.Microsoft.Icon";
  registry->text[{u".newext", u"Content Type"}] = u"text/x-new";
  registry->text[{u".bad", u"Content Type"}] = u"";  // stored as a number below
  registry->numbers.insert({u".bad", u"Content Type"});
  registry->text[{u"MIME\\Database\\Content Type\\audio/mpeg", u"Extension"}] = u".mp3";
  platform::setContentTypeRegistry(registry);
  rt::TStringList lines;
  service::FillMimeList(&lines, true);
  const std::u16string song = service::MimeTypeForFile(u"song.mp3");
  const std::u16string icon = service::MimeTypeForFile(u"0.ico");
  const std::u16string added = service::MimeTypeForFile(u"x.NEWEXT");
  const std::u16string skipped = service::MimeTypeForFile(u"x.bad");
  platform::setContentTypeRegistry(nullptr);

  EXPECT_EQ(lines[25], u".ico=image/vnd.microsoft.icon");
  EXPECT_EQ(lines.Count(), 315);
  EXPECT_EQ(icon, u"image/vnd.microsoft.icon");
  EXPECT_EQ(added, u"text/x-new");
  EXPECT_EQ(song, u"audio/mpeg");
  EXPECT_EQ(skipped, u"application/octet-stream");
}

// The upload's lookup (MimeTypeForFile: a table filled with the lines of one extension alone)
// and a table filled with every registration give the same answers, through the registry pass: an
// upper-case extension key, database types naming the extension with and without its dot in other
// cases (the last one enumerated wins), wrong-typed values and a type with a line break (both
// skipped), built-in lines the registry does not name. (Over a mime.types file:
// PosixMimeTableTest.cpp.)
TEST_F(MimeTable, TheUploadsAnswerIsTheFullTablesOverARegistry) {
  auto registry = std::make_shared<TextRegistry>();
  registry->text[{u".ICO", u"Content Type"}] = u"Image/From-Key";
  registry->text[{u".Png", u"Content Type"}] = u"image/png-key";
  registry->text[{u".dword", u"Content Type"}] = u"text/x-number";
  registry->numbers.insert({u".dword", u"Content Type"});
  registry->text[{u"MIME\\Database\\Content Type\\image/a-first", u"Extension"}] = u"ico";
  registry->text[{u"MIME\\Database\\Content Type\\image/b-last", u"Extension"}] = u".ICO";
  registry->text[{u"MIME\\Database\\Content Type\\image/c-number", u"Extension"}] = u".ico";
  registry->numbers.insert({u"MIME\\Database\\Content Type\\image/c-number", u"Extension"});
  registry->text[{u"MIME\\Database\\Content Type\\image/d\r\nx: 1", u"Extension"}] = u".ico";
  registry->text[{u"MIME\\Database\\Content Type\\audio/mpeg", u"Extension"}] = u"MP3";
  platform::setContentTypeRegistry(registry);
  TNetMimeTable table(true);
  const std::pair<const char16_t*, const char16_t*> answers[] = {
      {u"C:\\image\\0.ICO", u"image/b-last"}, {u"0.png", u"image/png-key"}, {u"0.mp3", u"audio/mpeg"},
      {u"x.dword", u"application/octet-stream"}, {u"x.gif", u"image/gif"}};
  std::vector<std::u16string> full, upload;
  for (const auto& answer : answers) {
    full.push_back(table.LookupMimeType(answer.first));
    upload.push_back(service::MimeTypeForFile(answer.first));
  }
  platform::setContentTypeRegistry(nullptr);

  for (std::size_t i = 0; i < std::size(answers); ++i) {
    EXPECT_EQ(full[i], answers[i].second) << rt::toUtf8(answers[i].first);
    EXPECT_EQ(upload[i], answers[i].second) << rt::toUtf8(answers[i].first);
  }
}

}  // namespace
