// The registry pass for content types, driven through a table of the test's own: the same two
// passes the Windows build makes over the classes root, run on every platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/ContentTypeRegistry.h"
#include "platform/TextCodePage.h"

namespace {

using Pair = std::pair<std::u16string, std::u16string>;

// Registry-like keys in enumeration order, each with named values as stored. Key names compare
// as the registry compares them: without regard to ASCII case (".ICO" is ".ico", ".\u0130co" is
// another key); a key is stored once under its first spelling.
class FakeRegistry final : public platform::ContentTypeRegistry {
 public:
  void addKey(const std::u16string& path) {
    if (known_.insert(fold(path)).second) keys_.emplace_back(path, fold(path));
  }

  void set(const std::u16string& path, const std::u16string& name, std::uint32_t type, std::vector<std::uint8_t> bytes) {
    addKey(path);
    values_[{fold(path), name}] = {type, std::move(bytes)};
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
    if (keyPath.empty()) ++enumerations;
    const std::u16string prefix = keyPath.empty() ? u"" : fold(keyPath) + u'\\';
    std::vector<std::u16string> names;
    for (const auto& [key, folded] : keys_) {
      if (folded.rfind(prefix, 0) != 0) continue;
      const std::u16string rest = key.substr(prefix.size());
      if (!rest.empty() && rest.find(u'\\') == std::u16string::npos) names.push_back(rest);
    }
    return names;
  }

  bool readValue(const std::u16string& keyPath, const std::u16string& name, platform::RegistryValue& value) override {
    reads.push_back(keyPath);
    const auto found = values_.find({fold(keyPath), name});
    if (found == values_.end()) return false;
    value = found->second;
    return true;
  }

  // Listings of the root, and the keys whose values were read, in order.
  int enumerations = 0;
  std::vector<std::u16string> reads;

 private:
  static std::u16string fold(const std::u16string& name) {
    std::u16string folded(name);
    for (char16_t& c : folded) c = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
    return folded;
  }

  std::vector<std::pair<std::u16string, std::u16string>> keys_;  // as stored, folded
  std::unordered_set<std::u16string> known_;
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

// With one extension asked for, only its registrations come back (case ignored), the other
// extension keys are not even read, and the type database's last word still wins. The extension
// key is read by the name asked for, whatever the case it is stored in, and reported under it.
TEST(ContentTypeRegistry, OneExtensionOnlyReadsItsOwnKeys) {
  FakeRegistry registry;
  registry.setText(u".ICO", u"Content Type", u"image/x-icon");
  registry.setText(u".png", u"Content Type", u"image/png");
  registry.setText(kDatabase + std::u16string(u"image/first"), u"Extension", u"ico");
  registry.setText(kDatabase + std::u16string(u"image/png"), u"Extension", u".png");
  registry.setText(kDatabase + std::u16string(u"image/last"), u"Extension", u".Ico");

  EXPECT_EQ(enumerate(registry, u".ico"),
            (std::vector<Pair>{{u".ico", u"image/x-icon"}, {u".ico", u"image/first"}, {u".Ico", u"image/last"}}));
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

namespace {

std::u16string lowered(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = platform::lowerChar(c);
  return out;
}

// What the MIME table answers for `extension` (lower case) after a run of the passes: the last
// registration filed under it (its extension in lower case), its type lower-cased; "" for none.
std::u16string tableAnswer(const std::vector<Pair>& found, const std::u16string& extension) {
  std::u16string answer;
  for (const auto& [e, t] : found)
    if (lowered(e) == extension && !t.empty()) answer = lowered(t);
  return answer;
}

std::vector<std::uint8_t> utf16Bytes(std::u16string_view text) {
  std::vector<std::uint8_t> bytes;
  for (const char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return bytes;
}

struct Scenario {
  const char* name;
  std::function<void(FakeRegistry&)> build;
  std::u16string icoAnswer;  // what the full table answers for ".ico"
  bool listsRoot = false;    // only the listing of the root tells the answer
};

std::u16string type(std::u16string_view name) { return kDatabase + std::u16string(name); }

std::vector<Scenario> adversarialScenarios() {
  const bool dottedCapitalFolds = platform::lowerChar(u'\u0130') == u'i';
  return {
      {"nothing registered", [](FakeRegistry&) {}, u""},
      {"the key stored in upper case, its type in mixed case",
       [](FakeRegistry& r) { r.setText(u".ICO", u"Content Type", u"Image/X-Icon"); }, u"image/x-icon"},
      {"a key value of the wrong type; a database type naming the extension without its dot",
       [](FakeRegistry& r) {
         r.set(u".ico", u"Content Type", platform::kRegistryNumber, {1, 0, 0, 0});
         r.setText(type(u"image/from-db"), u"Extension", u"ico");
       },
       u"image/from-db"},
      {"several database types in every spelling: the last one enumerated wins, wrong or garbled ones after it "
       "do not count",
       [](FakeRegistry& r) {
         r.setText(u".ico", u"Content Type", u"image/key");
         r.setText(type(u"image/first"), u"Extension", u".ico");
         r.setText(type(u"image/middle"), u"Extension", u"ICO");
         r.setText(type(u"image/png"), u"Extension", u".png");
         r.setText(type(u"image/last"), u"Extension", u"Ico");
         r.set(type(u"image/wrong"), u"Extension", platform::kRegistryBinary, utf16Bytes(u".ico"));
         r.setText(type(u"image/crlf\r\nX-Injected: 1"), u"Extension", u".ico");
       },
       u"image/last"},
      {"garbled and overlong values are skipped; text is cut at its first null",
       [](FakeRegistry& r) {
         r.setText(u".ico", u"Content Type", u"text/x\r\nX-Injected: 1");
         r.setText(type(u"image/good"), u"Extension", u".ico");
         r.setText(type(u"image/equals"), u"Extension", u".ico=x");
         std::vector<std::uint8_t> overlong = utf16Bytes(std::u16string(u".ico") + u'\0');
         overlong.resize(platform::kMaxRegistryValueBytes + 2, 0);
         r.set(type(u"image/overlong"), u"Extension", platform::kRegistryText, overlong);
         r.set(type(u"image/cut"), u"Extension", platform::kRegistryText, utf16Bytes(std::u16string(u"ico\0junk", 8)));
       },
       u"image/cut"},
      {"an expandable text taken as stored; an empty extension names nothing",
       [](FakeRegistry& r) {
         r.setText(u".ico", u"Content Type", u"Image/%X%", platform::kRegistryExpandableText);
         r.setText(type(u"image/empty"), u"Extension", u"");
       },
       u"image/%x%"},
      {"keys that only look like the extension's",
       [](FakeRegistry& r) {
         r.setText(u"ico", u"Content Type", u"image/no-dot");
         r.setText(u"Other\\.ico", u"Content Type", u"image/nested");
         r.setText(u".ico.bak", u"Content Type", u"image/longer");
         r.setText(u".\u0131co", u"Content Type", u"image/dotless-i");
         r.setText(type(u"image/nested\\deeper"), u"Extension", u".ico");
       },
       u""},
      {"an extension that lower-cases to the one asked for only by the locale's rules",
       [](FakeRegistry& r) {
         r.setText(u".ico", u"Content Type", u"image/key");
         r.setText(type(u"image/dotted-capital"), u"Extension", u".\u0130CO");
       },
       dottedCapitalFolds ? u"image/dotted-capital" : u"image/key"},
      {"beside the plain key, one the registry keeps apart but the table files under the same extension",
       [](FakeRegistry& r) {
         r.setText(u".ico", u"Content Type", u"image/plain-key");
         r.setText(u".\u0130CO", u"Content Type", u"image/dotted-key");
       },
       dottedCapitalFolds ? u"image/dotted-key" : u"image/plain-key", dottedCapitalFolds},
  };
}

// Fills `registry` as a machine with many classes: `keys` keys under the root, three in four of
// them extension keys with a type and the others program identifiers, the icon's own key among
// them, and `types` types in the database.
void fillLarge(FakeRegistry& registry, int keys, int types) {
  for (int i = 0; i < keys; ++i) {
    const std::u16string number = platform::fromAnsi(std::to_string(i));
    if (i == keys / 2) registry.setText(u".Ico", u"Content Type", u"image/vnd.microsoft.icon");
    if (i % 4 == 3) {
      registry.setText(u"Bench.File." + number, u"", u"Bench file");
    } else {
      registry.setText(u".bench" + number, u"Content Type", u"application/x-bench-" + number);
    }
  }
  for (int i = 0; i < types; ++i) {
    const std::u16string number = platform::fromAnsi(std::to_string(i));
    registry.setText(type(u"application/x-benchdb-" + number), u"Extension", u".benchdb" + number);
  }
}

}  // namespace

// The one-key lookup gives the full table's answer for ".ico" (and for another extension) in
// registries built to trip it: case, dots, the order of the type database, wrong types, garbled,
// overlong and cut values, look-alike keys. It never lists the root, and reads no other key there.
TEST(ContentTypeRegistry, OneKeyLookupGivesTheFullTablesAnswerInAdversarialRegistries) {
  for (const Scenario& scenario : adversarialScenarios()) {
    FakeRegistry registry;
    scenario.build(registry);
    const std::vector<Pair> full = enumerate(registry);
    const int listingsBefore = registry.enumerations;
    registry.reads.clear();
    const std::vector<Pair> one = enumerate(registry, u".ico");
    const std::vector<std::u16string> reads = registry.reads;
    const int listings = registry.enumerations;

    EXPECT_EQ(tableAnswer(full, u".ico"), scenario.icoAnswer) << scenario.name;
    EXPECT_EQ(tableAnswer(one, u".ico"), tableAnswer(full, u".ico")) << scenario.name;
    EXPECT_EQ(tableAnswer(enumerate(registry, u".png"), u".png"), tableAnswer(full, u".png")) << scenario.name;
    if (scenario.listsRoot) continue;
    EXPECT_EQ(listings, listingsBefore) << scenario.name;
    for (const std::u16string& read : reads)
      EXPECT_TRUE(lowered(read) == u".ico" || read.rfind(kDatabase, 0) == 0) << scenario.name;
  }

  // An extension outside ASCII: the registry's case rules and the table's part ways, so the root
  // is listed and compared as the table compares.
  FakeRegistry registry;
  registry.setText(u".\u00C9X", u"Content Type", u"text/x-e-acute");
  const std::u16string wanted = lowered(u".\u00C9X");
  EXPECT_EQ(tableAnswer(enumerate(registry, wanted), wanted), tableAnswer(enumerate(registry), wanted));
}

// The premise of the look-alike spellings: the only units outside ASCII that the locale's lower
// case maps onto ASCII are the capital I with dot above and the Kelvin sign.
TEST(ContentTypeRegistry, OnlyTwoUnitsOutsideAsciiLowerCaseOntoAscii) {
  std::vector<char16_t> ontoAscii;
  for (char32_t c = 0x80; c <= 0xFFFF; ++c)
    if (platform::lowerChar(static_cast<char16_t>(c)) < 0x80) ontoAscii.push_back(static_cast<char16_t>(c));
  for (const char16_t c : ontoAscii) EXPECT_TRUE(c == u'\u0130' || c == u'\u212A') << static_cast<int>(c);
}

// A large registry: the one-key lookup reads the one extension key however many keys there are,
// and the database's types once each; the answer is still the full table's.
TEST(ContentTypeRegistry, OneKeyLookupCostDoesNotGrowWithTheRoot) {
  for (const int keys : {0, 1000, 50000}) {
    FakeRegistry registry;
    fillLarge(registry, keys, 100);
    const std::vector<Pair> full = enumerate(registry);
    registry.enumerations = 0;
    registry.reads.clear();
    const std::vector<Pair> one = enumerate(registry, u".ico");

    EXPECT_EQ(tableAnswer(one, u".ico"), tableAnswer(full, u".ico")) << keys;
    EXPECT_EQ(tableAnswer(one, u".ico"), keys > 0 ? u"image/vnd.microsoft.icon" : u"") << keys;
    EXPECT_EQ(registry.enumerations, 0) << keys;
    // The extension's key and its look-alike spelling ".\u0130co" (which does not open), then
    // each type once.
    EXPECT_EQ(registry.reads.size(), platform::lowerChar(u'\u0130') == u'i' ? 102u : 101u) << keys;
    EXPECT_EQ(std::count(registry.reads.begin(), registry.reads.end(), u".ico"), 1) << keys;
  }
}
