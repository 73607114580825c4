// Registered content types on Windows: the registry under HKEY_CLASSES_ROOT, read-only, through
// the two passes of ContentTypeRegistry.cpp (RegOpenKeyExW, RegEnumKeyExW, RegQueryValueExW,
// RegCloseKey). One extension costs one open of its key plus the listing of the
// type database, whose types are opened below the database key opened once.
#include "platform/ContentTypes.h"

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/ContentTypeRegistry.h"
#include "platform/win32/Win32Text.h"

namespace platform {
namespace {

// The registry's longest key name, in UTF-16 units (without the terminating null).
constexpr DWORD kMaxKeyName = 255;

// An open registry key, closed with the object.
class RegistryKey {
 public:
  RegistryKey(HKEY parent, const std::u16string& path, REGSAM access) {
    if (parent == nullptr || RegOpenKeyExW(parent, win32::wide(path), 0, access, &key_) != ERROR_SUCCESS)
      key_ = nullptr;
  }
  ~RegistryKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// The value `name` of the open `key` into `value`, read in one call when it fits a small buffer
// (content types and extensions always do). A value longer than the passes read is refused
// before anything is allocated for it; one that grows between the size query and the read is
// tried again a few times, then given up.
bool readKeyValue(HKEY key, const std::u16string& name, RegistryValue& value) {
  std::array<std::uint8_t, 512> small {};
  DWORD type = 0;
  DWORD size = static_cast<DWORD>(small.size());
  LSTATUS status = RegQueryValueExW(key, win32::wide(name), nullptr, &type, small.data(), &size);
  if (status == ERROR_SUCCESS) {
    if (size > small.size()) return false;
    value.type = type;
    value.data.assign(small.begin(), small.begin() + size);
    return true;
  }
  std::vector<std::uint8_t> large;
  for (int attempt = 0; status == ERROR_MORE_DATA && attempt < 4; ++attempt) {
    if (size > kMaxRegistryValueBytes) return false;
    large.assign(size, 0);
    status = RegQueryValueExW(key, win32::wide(name), nullptr, &type, large.data(), &size);
  }
  if (status != ERROR_SUCCESS || size > large.size()) return false;
  large.resize(size);
  value.type = type;
  value.data = std::move(large);
  return true;
}

// Calls `each` with the name of every key directly under the open `key`, in enumeration order.
// The name buffer holds the longest name the registry allows; a longer name (which the registry
// does not make) is skipped.
template <typename Each>
void forEachSubkeyName(HKEY key, Each&& each) {
  std::array<char16_t, kMaxKeyName + 1> name {};
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    const LSTATUS status =
        RegEnumKeyExW(key, index, win32::wide(name.data()), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) return;  // ERROR_NO_MORE_ITEMS, or the key went away
    if (length > kMaxKeyName) continue;
    each(std::u16string(name.data(), length));
  }
}

class ClassesRoot final : public ContentTypeRegistry {
 public:
  std::vector<std::u16string> subkeyNames(const std::u16string& keyPath) override {
    std::vector<std::u16string> names;
    const RegistryKey key(HKEY_CLASSES_ROOT, keyPath, KEY_ENUMERATE_SUB_KEYS);
    if (key.get() == nullptr) return names;
    forEachSubkeyName(key.get(), [&](std::u16string name) { names.push_back(std::move(name)); });
    return names;
  }

  bool readValue(const std::u16string& keyPath, const std::u16string& name, RegistryValue& value) override {
    const RegistryKey key(HKEY_CLASSES_ROOT, keyPath, KEY_QUERY_VALUE);
    return key.get() != nullptr && readKeyValue(key.get(), name, value);
  }

  // The parent is opened once, each key below it relative to that handle: the path is not looked
  // up from the root again for every key.
  void forEachSubkeyValue(const std::u16string& keyPath, const std::u16string& name,
                          const SubkeyValueSink& each) override {
    const RegistryKey parent(HKEY_CLASSES_ROOT, keyPath, KEY_ENUMERATE_SUB_KEYS);
    if (parent.get() == nullptr) return;
    forEachSubkeyName(parent.get(), [&](const std::u16string& subkey) {
      const RegistryKey key(parent.get(), subkey, KEY_QUERY_VALUE);
      RegistryValue value;
      each(subkey, key.get() != nullptr && readKeyValue(key.get(), name, value) ? &value : nullptr);
    });
  }
};

}  // namespace

void enumerateContentTypes(const ContentTypeSink& sink, std::u16string_view onlyExtension) {
  if (const auto registry = contentTypeRegistryOverride()) {
    enumerateRegistryContentTypes(*registry, sink, onlyExtension);
    return;
  }
  ClassesRoot root;
  enumerateRegistryContentTypes(root, sink, onlyExtension);
}

// The table is the registry, not a file.
void setContentTypesFile(std::u16string /*path*/) {}

}  // namespace platform
