// Content types from the real registry: keys written under the classes root for the test, read
// back through both passes; a value of the wrong type is skipped there too.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/ContentTypes.h"
#include "platform/win32/Win32Text.h"

namespace {

using Pair = std::pair<std::u16string, std::u16string>;

const std::wstring kSuffix = std::to_wstring(GetCurrentProcessId());
const std::wstring kExtension = L".talvenooktest" + kSuffix;
const std::wstring kWrongType = L".talvenookdword" + kSuffix;
const std::wstring kDatabaseType = L"application/x-talvenook-db" + kSuffix;
const std::wstring kDatabaseKey = L"MIME\\Database\\Content Type\\" + kDatabaseType;

void setText(const std::wstring& key, const wchar_t* name, const std::wstring& text) {
  const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, text.c_str(), bytes), ERROR_SUCCESS);
}

// The test's keys, removed again whatever the test asserted.
struct TestKeys {
  TestKeys() {
    setText(kExtension, L"Content Type", L"Application/X-Talvenook");
    const DWORD number = 1;
    RegSetKeyValueW(HKEY_CLASSES_ROOT, kWrongType.c_str(), L"Content Type", REG_DWORD, &number, sizeof number);
    setText(kDatabaseKey, L"Extension", L"talvenookdb" + kSuffix);
  }
  ~TestKeys() {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kExtension.c_str());
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kWrongType.c_str());
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kDatabaseKey.c_str());
  }
};

std::u16string u16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

std::vector<Pair> enumerate(std::u16string_view only = {}) {
  std::vector<Pair> found;
  platform::enumerateContentTypes([&](const std::u16string& e, const std::u16string& t) { found.emplace_back(e, t); },
                                  only);
  return found;
}

}  // namespace

TEST(Win32ContentTypes, TheClassesRootIsReadInBothPasses) {
  const TestKeys keys;
  const std::vector<Pair> all = enumerate();
  const Pair byExtension{u16(kExtension), u"Application/X-Talvenook"};
  const Pair byType{u".talvenookdb" + u16(kSuffix), u16(kDatabaseType)};
  EXPECT_NE(std::find(all.begin(), all.end(), byExtension), all.end());
  EXPECT_NE(std::find(all.begin(), all.end(), byType), all.end());
  for (const Pair& pair : all) EXPECT_NE(pair.first, u16(kWrongType));

  EXPECT_EQ(enumerate(u16(kExtension)), std::vector<Pair>{byExtension});
  EXPECT_TRUE(enumerate(u16(kWrongType)).empty());
}
