// The two registry passes for content types, shared by the Windows registry and test tables.
#include "platform/ContentTypeRegistry.h"

#include <algorithm>
#include <utility>

namespace platform {
namespace {

constexpr char16_t kTypeDatabase[] = u"MIME\\Database\\Content Type";

std::shared_ptr<ContentTypeRegistry>& registryOverride() {
  static std::shared_ptr<ContentTypeRegistry> registry;
  return registry;
}

char16_t lowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool sameIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return lowerAscii(x) == lowerAscii(y); });
}

bool hasControlCharacter(std::u16string_view text) {
  return std::any_of(text.begin(), text.end(), [](char16_t c) { return c < u' ' || c == u'\x7F'; });
}

// The text of a value of one of the two text types, cut at its first null; nothing for a value
// of any other type (decision: a wrong type is skipped like a missing value).
std::u16string textOf(const RegistryValue& value) {
  if (value.type != kRegistryText && value.type != kRegistryExpandableText) return {};
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

void passByExtension(ContentTypeRegistry& registry, const ContentTypeSink& sink, std::u16string_view onlyExtension) {
  for (const std::u16string& name : registry.subkeyNames(u"")) {
    if (name.empty() || name.front() != u'.') continue;
    if (!onlyExtension.empty() && !sameIgnoringAsciiCase(name, onlyExtension)) continue;
    report(sink, name, readText(registry, name, u"Content Type"));
  }
}

void passByType(ContentTypeRegistry& registry, const ContentTypeSink& sink, std::u16string_view onlyExtension) {
  const std::u16string database(kTypeDatabase);
  for (const std::u16string& type : registry.subkeyNames(database)) {
    std::u16string extension = readText(registry, database + u'\\' + type, u"Extension");
    if (extension.empty()) continue;
    if (extension.front() != u'.') extension.insert(extension.begin(), u'.');
    if (!onlyExtension.empty() && !sameIgnoringAsciiCase(extension, onlyExtension)) continue;
    report(sink, extension, type);
  }
}

}  // namespace

void enumerateRegistryContentTypes(ContentTypeRegistry& registry, const ContentTypeSink& sink,
                                   std::u16string_view onlyExtension) {
  passByExtension(registry, sink, onlyExtension);
  passByType(registry, sink, onlyExtension);
}

void setContentTypeRegistry(std::shared_ptr<ContentTypeRegistry> registry) { registryOverride() = std::move(registry); }

std::shared_ptr<ContentTypeRegistry> contentTypeRegistryOverride() { return registryOverride(); }

}  // namespace platform
