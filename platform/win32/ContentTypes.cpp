// Registered content types on Windows: the registry under HKEY_CLASSES_ROOT, read-only, through
// the two passes of ContentTypeRegistry.cpp (RegOpenKeyExW, RegQueryInfoKeyW, RegEnumKeyExW,
// RegQueryValueExW, RegCloseKey).
#include "platform/ContentTypes.h"

#include "platform/ContentTypeRegistry.h"
#include "platform/win32/Win32Text.h"

namespace platform {
namespace {

// An open registry key, closed with the object.
class RegistryKey {
 public:
  RegistryKey(const std::u16string& path, REGSAM access) {
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, win32::wide(path), 0, access, &key_) != ERROR_SUCCESS) key_ = nullptr;
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

class ClassesRoot final : public ContentTypeRegistry {
 public:
  std::vector<std::u16string> subkeyNames(const std::u16string& keyPath) override {
    std::vector<std::u16string> names;
    const RegistryKey key(keyPath, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE);
    if (key.get() == nullptr) return names;
    DWORD count = 0;
    DWORD longest = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
      return names;
    names.reserve(count);
    std::u16string name(longest + 1, u'\0');
    for (DWORD index = 0;; ++index) {
      DWORD length = static_cast<DWORD>(name.size());
      const LSTATUS status =
          RegEnumKeyExW(key.get(), index, win32::wide(name.data()), &length, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_MORE_DATA) {  // a longer name was added meanwhile: room for it, same index
        name.resize(name.size() * 2);
        --index;
        continue;
      }
      if (status != ERROR_SUCCESS) break;  // ERROR_NO_MORE_ITEMS, or the key went away
      names.push_back(name.substr(0, length));
    }
    return names;
  }

  bool readValue(const std::u16string& keyPath, const std::u16string& name, RegistryValue& value) override {
    const RegistryKey key(keyPath, KEY_QUERY_VALUE);
    if (key.get() == nullptr) return false;
    // The value may grow between the size query and the read: a few attempts, then give up.
    for (int attempt = 0; attempt < 4; ++attempt) {
      DWORD type = 0;
      DWORD size = 0;
      if (RegQueryValueExW(key.get(), win32::wide(name), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
      value.data.assign(size, 0);
      const LSTATUS status = RegQueryValueExW(key.get(), win32::wide(name), nullptr, &type, value.data.data(), &size);
      if (status == ERROR_MORE_DATA) continue;
      if (status != ERROR_SUCCESS) return false;
      value.type = type;
      value.data.resize(size);
      return true;
    }
    return false;
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
