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
//
// Asked for one extension, the pass by extension reads the one key of that name (the registry
// finds key names without regard to case) instead of listing the root, so its cost does not grow
// with the number of classes registered; the pass by type still lists the type database, which
// is small, opening each type below the database key opened once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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

// The longest value the passes read, in bytes: 1,024 UTF-16 units, far more than any content
// type (RFC 6838, section 4.2: at most 127 characters a name) or extension. A longer value is
// skipped as a malformed one, and never read into memory.
inline constexpr std::size_t kMaxRegistryValueBytes = 2048;

// A value as the registry stores it: its type and its bytes (text is UTF-16, little-endian,
// usually with a terminating null).
struct RegistryValue {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

// A read-only registry-like table below one root. Key names compare as the registry compares
// them: without regard to case.
class ContentTypeRegistry {
 public:
  // Receives one key of a listing: its name as stored, and its value asked for, or none when the
  // key does not open or lacks the value.
  using SubkeyValueSink = std::function<void(const std::u16string& subkey, const RegistryValue* value)>;

  virtual ~ContentTypeRegistry() = default;

  // The names of the keys directly under `keyPath` ("" is the root; levels are separated by
  // "\"), in the registry's enumeration order. Empty when the key does not open.
  virtual std::vector<std::u16string> subkeyNames(const std::u16string& keyPath) = 0;

  // The value `name` of the key at `keyPath` into `value`. False when the key does not open or
  // has no such value.
  virtual bool readValue(const std::u16string& keyPath, const std::u16string& name, RegistryValue& value) = 0;

  // Calls `each` for every key directly under `keyPath`, in enumeration order, with its value
  // `name`. Nothing when `keyPath` does not open. This default lists the names, then reads each
  // key by its whole path; a registry that can open a key below its already open parent
  // overrides it.
  virtual void forEachSubkeyValue(const std::u16string& keyPath, const std::u16string& name,
                                  const SubkeyValueSink& each);
};

// Runs both passes over `registry`, calling `sink` per registration in order, with the filter of
// enumerateContentTypes. A value of the wrong type, or longer than kMaxRegistryValueBytes, is
// skipped like a missing one; so is an entry that would garble the content-type table or a part
// header (an extension with a control character or "=", a content type with a control
// character). Text is cut at its first null. With `onlyExtension`, the pass by extension reads
// the one key named `onlyExtension` and reports it under that name (the registry does not say
// how the key's name is stored; the table lower-cases it anyway); the pass by type reports the
// types whose extension equals `onlyExtension` in lower case (platform::lowerChar, unit by unit),
// as the table compares extensions.
void enumerateRegistryContentTypes(ContentTypeRegistry& registry, const ContentTypeSink& sink,
                                   std::u16string_view onlyExtension = {});

// Tests: makes enumerateContentTypes read `registry` through the registry pass instead of the
// system's table, on every platform; none restores the system's table (the classes root on
// Windows, mime.types elsewhere). Not thread-safe: set it before the code under test runs.
void setContentTypeRegistry(std::shared_ptr<ContentTypeRegistry> registry);

// The registry set by setContentTypeRegistry, or none.
std::shared_ptr<ContentTypeRegistry> contentTypeRegistryOverride();

}  // namespace platform
