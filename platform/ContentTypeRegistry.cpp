// The two registry passes for content types, shared by the Windows registry and test tables.
#include "platform/ContentTypeRegistry.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "platform/TextCodePage.h"

namespace platform {
namespace {

constexpr char16_t kTypeDatabase[] = u"MIME\\Database\\Content Type";

std::shared_ptr<ContentTypeRegistry>& registryOverride() {
  static std::shared_ptr<ContentTypeRegistry> registry;
  return registry;
}

// Equal in lower case unit by unit, by the mapping the MIME table lower-cases its extensions with.
bool sameLowerCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return lowerChar(x) == lowerChar(y); });
}

// Names a key directly under the root, as an extension key's name must: a leading ".", no level
// separator or null (either would reach some other key), at most the registry's 255 units.
bool isExtensionKeyName(std::u16string_view name) {
  return name.size() >= 2 && name.size() <= 255 && name.front() == u'.' &&
         name.find_first_of(std::u16string_view(u"\\\0", 2)) == std::u16string_view::npos;
}

bool hasControlCharacter(std::u16string_view text) {
  return std::any_of(text.begin(), text.end(), [](char16_t c) { return c < u' ' || c == u'\x7F'; });
}

// The text of a value of one of the two text types, cut at its first null; nothing for a value
// of any other type (decision: a wrong type is skipped like a missing value).
std::u16string textOf(const RegistryValue& value) {
  if (value.type != kRegistryText && value.type != kRegistryExpandableText) return {};
  if (value.data.size() > kMaxRegistryValueBytes) return {};
  std::u16string text;
  text.reserve(value.data.size() / 2);
  for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
    const auto c = static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8));
    if (c == u'\0') break;
    text += c;
  }
  return text;
}

std::u16string readText(ContentTypeRegistry& registry, const std::u16string& keyPath, const std::u16string& name) {
  RegistryValue value;
  if (!registry.readValue(keyPath, name, value)) return {};
  return textOf(value);
}

// Hands one registration on unless it is empty or would garble the table ("extension=type"
// lines) or the part header it ends up in.
void report(const ContentTypeSink& sink, const std::u16string& extension, const std::u16string& type) {
  if (extension.size() < 2 || type.empty()) return;
  if (hasControlCharacter(extension) || extension.find(u'=') != std::u16string::npos) return;
  if (hasControlCharacter(type)) return;
  sink(extension, type);
}

// The units outside ASCII that the locale's lower case maps onto an ASCII letter: U+0130 (capital
// I with dot above) onto "i" and U+212A (Kelvin sign) onto "k". The registry compares names by
// ASCII case only, so a key spelled with one of them is another key to it, while the MIME table
// files it under the same extension.
constexpr std::pair<char16_t, char16_t> kNonAsciiCapitals[] = {{u'\u0130', u'i'}, {u'\u212A', u'k'}};
constexpr std::size_t kMostLookAlikes = 16;

// The other spellings of `name` (ASCII) that the table files under the same extension but the
// registry keeps apart: `name` with any of its "i" and "k" in the forms above. Nothing when
// `name` is not ASCII or has more look-alikes than are worth opening one by one.
std::optional<std::vector<std::u16string>> lookAlikeNames(std::u16string_view name) {
  std::vector<std::u16string> names {std::u16string(name)};
  for (std::size_t at = 0; at < name.size(); ++at) {
    if (name[at] >= 0x80) return std::nullopt;
    for (const auto& [capital, letter] : kNonAsciiCapitals) {
      if (lowerChar(name[at]) != letter || lowerChar(capital) != letter) continue;
      const std::size_t count = names.size();
      if (count * 2 > kMostLookAlikes + 1) return std::nullopt;
      for (std::size_t i = 0; i < count; ++i) {
        std::u16string other = names[i];
        other[at] = capital;
        names.push_back(std::move(other));
      }
    }
  }
  names.erase(names.begin());  // `name` itself
  return names;
}

// Whether a key spelled like `onlyExtension` but kept apart from it by the registry holds a text
// "Content Type": then the order of the two keys decides the table's answer, and only the listing
// of the root tells it. No installer writes such keys, so this is a few failed opens.
bool hasLookAlikeRegistration(ContentTypeRegistry& registry, std::u16string_view onlyExtension) {
  const auto names = lookAlikeNames(onlyExtension);
  if (!names) return true;
  return std::any_of(names->begin(), names->end(),
                     [&](const std::u16string& name) { return !readText(registry, name, u"Content Type").empty(); });
}

// Asked for one extension, only its own key is read: the registry finds it by name, whatever its
// ASCII case, so the cost is one open (and one for each look-alike spelling, which does not open)
// however many classes are registered.
void passByExtension(ContentTypeRegistry& registry, const ContentTypeSink& sink, std::u16string_view onlyExtension) {
  if (!onlyExtension.empty()) {
    if (!isExtensionKeyName(onlyExtension)) return;
    if (!hasLookAlikeRegistration(registry, onlyExtension)) {
      const std::u16string name(onlyExtension);
      report(sink, name, readText(registry, name, u"Content Type"));
      return;
    }
  }
  for (const std::u16string& name : registry.subkeyNames(u"")) {
    if (name.empty() || name.front() != u'.') continue;
    if (!onlyExtension.empty() && !sameLowerCase(name, onlyExtension)) continue;
    report(sink, name, readText(registry, name, u"Content Type"));
  }
}

// Every type of the database is read, the one extension or all of them: the database has no
// index by extension.
void passByType(ContentTypeRegistry& registry, const ContentTypeSink& sink, std::u16string_view onlyExtension) {
  registry.forEachSubkeyValue(kTypeDatabase, u"Extension", [&](const std::u16string& type, const RegistryValue* value) {
    if (value == nullptr) return;
    std::u16string extension = textOf(*value);
    if (extension.empty()) return;
    if (extension.front() != u'.') extension.insert(extension.begin(), u'.');
    if (!onlyExtension.empty() && !sameLowerCase(extension, onlyExtension)) return;
    report(sink, extension, type);
  });
}

}  // namespace

void ContentTypeRegistry::forEachSubkeyValue(const std::u16string& keyPath, const std::u16string& name,
                                             const SubkeyValueSink& each) {
  const std::u16string prefix = keyPath.empty() ? std::u16string() : keyPath + u'\\';
  for (const std::u16string& subkey : subkeyNames(keyPath)) {
    RegistryValue value;
    each(subkey, readValue(prefix + subkey, name, value) ? &value : nullptr);
  }
}

void enumerateRegistryContentTypes(ContentTypeRegistry& registry, const ContentTypeSink& sink,
                                   std::u16string_view onlyExtension) {
  passByExtension(registry, sink, onlyExtension);
  passByType(registry, sink, onlyExtension);
}

void setContentTypeRegistry(std::shared_ptr<ContentTypeRegistry> registry) { registryOverride() = std::move(registry); }

std::shared_ptr<ContentTypeRegistry> contentTypeRegistryOverride() { return registryOverride(); }

}  // namespace platform
