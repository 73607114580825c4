// The registry pass for content types, driven through a table of the test's own: the same two
// passes the Windows build makes over the classes root, run on every platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "platform/ContentTypeRegistry.h"

namespace {

using Pair = std::pair<std::u16string, std::u16string>;

// Registry-like keys in enumeration order, each with named values as stored.
class FakeRegistry final : public platform::ContentTypeRegistry {
 public:
  void addKey(const std::u16string& path) { keys_.push_back(path); }

  void set(const std::u16string& path, const std::u16string& name, std::uint32_t type, std::vector<std::uint8_t> bytes) {
    if (std::find(keys_.begin(), keys_.end(), path) == keys_.end()) keys_.push_back(path);
    values_[{path, name}] = {type, std::move(bytes)};
  }
  void setText(const std::u16string& path, const std::u16string& name, const std::u16string& text,
               std::uint32_t type = platform::kRegistryText) {
    std::vector<std::uint8_t> bytes;
    for (const char16_t c : text + u'\0') {
      bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
      bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    set(path, name, type, std::move(bytes));
  }

  std::vector<std::u16string> subkeyNames(const std::u16string& keyPath) override {
    ++enumerations;
    const std::u16string prefix = keyPath.empty() ? u"" : keyPath + u'\\';
    std::vector<std::u16string> names;
    for (const auto& key : keys_) {
      if (key.rfind(prefix, 0) != 0) continue;
      const std::u16string rest = key.substr(prefix.size());
      if (!rest.empty() && rest.find(u'\\') == std::u16string::npos) names.push_back(rest);
    }
    return names;
  }

  bool readValue(const std::u16string& keyPath, const std::u16string& name, platform::RegistryValue& value) override {
    reads.push_back(keyPath);
    const auto found = values_.find({keyPath, name});
    if (found == values_.end()) return false;
    value = found->second;
    return true;
  }

  int enumerations = 0;
  std::vector<std::u16string> reads;

 private:
  std::vector<std::u16string> keys_;
  std::map<std::pair<std::u16string, std::u16string>, platform::RegistryValue> values_;
};

constexpr char16_t kDatabase[] = u"MIME\\Database\\Content Type\\";

std::vector<Pair> enumerate(FakeRegistry& registry, std::u16string_view only = {}) {
  std::vector<Pair> found;
  platform::enumerateRegistryContentTypes(
      registry, [&](const std::u16string& e, const std::u16string& t) { found.emplace_back(e, t); }, only);
  return found;
}

}  // namespace

// Pass by extension, then pass by type: the type database comes later, so it replaces what the
// extension keys said; its "Extension" values get their "." when they lack one. Keys that do
// not start with "." and keys without the value give nothing; texts arrive as stored.
TEST(ContentTypeRegistry, ExtensionKeysFirstThenTheTypeDatabaseInEnumerationOrder) {
  FakeRegistry registry;
  registry.setText(u".ico", u"Content Type", u"Image/X-Icon");
  registry.setText(u"icofile", u"Content Type", u"image/never");
  registry.addKey(u".none");
  registry.setText(u".png", u"Content Type", u"image/png");
  registry.setText(kDatabase + std::u16string(u"image/vnd.microsoft.icon"), u"Extension", u".ico");
  registry.setText(kDatabase + std::u16string(u"image/x-png"), u"Extension", u"PNG");
  registry.setText(kDatabase + std::u16string(u"text/none"), u"Other", u".txt");

  EXPECT_EQ(enumerate(registry), (std::vector<Pair>{{u".ico", u"Image/X-Icon"},
                                                    {u".png", u"image/png"},
                                                    {u".ico", u"image/vnd.microsoft.icon"},
                                                    {u".PNG", u"image/x-png"}}));
}

// A value of the wrong type is skipped like a missing one (it must not make every lookup
// fail); both text types are read as stored (an expandable one is not expanded), cut at the
// first null; odd trailing bytes and empty texts give nothing.
TEST(ContentTypeRegistry, WrongTypesAreSkippedAndTextIsCutAtItsFirstNull) {
  FakeRegistry registry;
  registry.set(u".dword", u"Content Type", platform::kRegistryNumber, {1, 0, 0, 0});
  registry.set(u".binary", u"Content Type", platform::kRegistryBinary, {'a', 0, '/', 0, 'b', 0});
  registry.setText(u".expand", u"Content Type", u"text/%TYPE%", platform::kRegistryExpandableText);
  registry.set(u".cut", u"Content Type", platform::kRegistryText, {'a', 0, '/', 0, 'b', 0, 0, 0, 'x', 0, 0});
  registry.set(u".odd", u"Content Type", platform::kRegistryText, {'a', 0, '/', 0, 'c', 0, 'x'});
  registry.setText(u".empty", u"Content Type", u"");
  registry.set(kDatabase + std::u16string(u"text/wrong"), u"Extension", platform::kRegistryNumber, {'.', 0, 'w', 0});
  registry.setText(kDatabase + std::u16string(u"text/right"), u"Extension", u".w");

  EXPECT_EQ(enumerate(registry), (std::vector<Pair>{{u".expand", u"text/%TYPE%"},
                                                    {u".cut", u"a/b"},
                                                    {u".odd", u"a/c"},
                                                    {u".w", u"text/right"}}));
}

// An entry that would garble the "extension=type" table or the part header it ends up in is
// refused: control characters (a line break in a content type), "=" in an extension, a bare ".".
TEST(ContentTypeRegistry, EntriesThatWouldGarbleTheTableOrAHeaderAreSkipped) {
  FakeRegistry registry;
  registry.setText(u".crlf", u"Content Type", u"text/plain\r\nX-Injected: 1");
  registry.setText(u".a=b", u"Content Type", u"text/plain");
  registry.setText(u".", u"Content Type", u"text/plain");
  registry.setText(kDatabase + std::u16string(u"text/tab\there"), u"Extension", u".tab");
  registry.setText(kDatabase + std::u16string(u"text/ok"), u"Extension", u".ok");
  EXPECT_EQ(enumerate(registry), (std::vector<Pair>{{u".ok", u"text/ok"}}));
}

// With one extension asked for, only its registrations come back (ASCII case ignored), the
// other extension keys are not even read, and the type database's last word still wins.
TEST(ContentTypeRegistry, OneExtensionOnlyReadsItsOwnKeys) {
  FakeRegistry registry;
  registry.setText(u".ICO", u"Content Type", u"image/x-icon");
  registry.setText(u".png", u"Content Type", u"image/png");
  registry.setText(kDatabase + std::u16string(u"image/first"), u"Extension", u"ico");
  registry.setText(kDatabase + std::u16string(u"image/png"), u"Extension", u".png");
  registry.setText(kDatabase + std::u16string(u"image/last"), u"Extension", u".Ico");

  EXPECT_EQ(enumerate(registry, u".ico"),
            (std::vector<Pair>{{u".ICO", u"image/x-icon"}, {u".ico", u"image/first"}, {u".Ico", u"image/last"}}));
  EXPECT_EQ(std::count(registry.reads.begin(), registry.reads.end(), u".png"), 0);
  EXPECT_TRUE(enumerate(registry, u".gif").empty());
}

// The hook puts the test's table in place of the system's behind enumerateContentTypes, and
// none gives the system's table back.
TEST(ContentTypeRegistry, TheHookReplacesTheSystemTableUntilCleared) {
  auto registry = std::make_shared<FakeRegistry>();
  registry->setText(u".talvenook", u"Content Type", u"application/x-talvenook");
  platform::setContentTypeRegistry(registry);
  std::vector<Pair> found;
  platform::enumerateContentTypes([&](const std::u16string& e, const std::u16string& t) { found.emplace_back(e, t); });
  platform::setContentTypeRegistry(nullptr);
  EXPECT_EQ(found, (std::vector<Pair>{{u".talvenook", u"application/x-talvenook"}}));

  const int before = registry->enumerations;
  platform::enumerateContentTypes([](const std::u16string&, const std::u16string&) {}, u".talvenook");
  EXPECT_EQ(registry->enumerations, before);
}
