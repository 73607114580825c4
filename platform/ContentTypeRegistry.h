// The registry pass for content types: the two passes over a registry-like table that the
// Windows build makes over the classes root (HKEY_CLASSES_ROOT), written once over an interface
// so that tests can feed it entries of their own, values of the wrong type included, on every
// platform.
//
// Pass by extension: every key directly under the root whose name starts with "." gives its text
// value "Content Type". Pass by type: every key under "MIME\Database\Content Type" (a content
// type) gives its text value "Extension" (a "." is put in front when missing). The second pass
// comes after the first, so the type database wins, and among several types naming the same
// extension the last one enumerated wins.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ContentTypes.h"

namespace platform {

// Registry value types that hold text: plain (REG_SZ) and with environment references
// (REG_EXPAND_SZ, taken as stored, never expanded). Every other type is the wrong type.
inline constexpr std::uint32_t kRegistryText = 1;
inline constexpr std::uint32_t kRegistryExpandableText = 2;
inline constexpr std::uint32_t kRegistryBinary = 3;
inline constexpr std::uint32_t kRegistryNumber = 4;

// A value as the registry stores it: its type and its bytes (text is UTF-16, little-endian,
// usually with a terminating null).
struct RegistryValue {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

// A read-only registry-like table below one root.
class ContentTypeRegistry {
 public:
  virtual ~ContentTypeRegistry() = default;

  // The names of the keys directly under `keyPath` ("" is the root; levels are separated by
  // "\"), in the registry's enumeration order. Empty when the key does not open.
  virtual std::vector<std::u16string> subkeyNames(const std::u16string& keyPath) = 0;

  // The value `name` of the key at `keyPath` into `value`. False when the key does not open or
  // has no such value.
  virtual bool readValue(const std::u16string& keyPath, const std::u16string& name, RegistryValue& value) = 0;
};

// Runs both passes over `registry`, calling `sink` per registration in order, with the filter of
// enumerateContentTypes. A value of the wrong type is skipped like a missing one; so is an entry
// that would garble the content-type table or a part header (an extension with a control
// character or "=", a content type with a control character). Text is cut at its first null.
void enumerateRegistryContentTypes(ContentTypeRegistry& registry, const ContentTypeSink& sink,
                                   std::u16string_view onlyExtension = {});

// Tests: makes enumerateContentTypes read `registry` through the registry pass instead of the
// system's table, on every platform; none restores the system's table (the classes root on
// Windows, mime.types elsewhere). Not thread-safe: set it before the code under test runs.
void setContentTypeRegistry(std::shared_ptr<ContentTypeRegistry> registry);

// The registry set by setContentTypeRegistry, or none.
std::shared_ptr<ContentTypeRegistry> contentTypeRegistryOverride();

}  // namespace platform
