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

namespace {

// Keys of the test's own under HKEY_CURRENT_USER\Software\Classes, which Windows shows merged
// into the classes root; Wine 8 does not merge the user's classes (the root is the machine's
// alone), so there they are written through the root itself. Removed whatever the test asserted.
const std::wstring kChanging = L".talvenookchange" + kSuffix;
const std::wstring kUpperCase = L".TALVENOOKCASE" + kSuffix;
const std::wstring kLong = L".talvenooklong" + kSuffix;
const std::wstring kUserType = L"MIME\\Database\\Content Type\\application/x-talvenook-user" + kSuffix;

struct ClassesPlace {
  HKEY root;
  std::wstring prefix;
};

const ClassesPlace& userClasses() {
  static const ClassesPlace place = [] {
    const std::wstring probe = L".talvenookprobe" + kSuffix;
    const std::wstring userKey = L"Software\\Classes\\" + probe;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, userKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS)
      RegCloseKey(key);
    HKEY seen = nullptr;
    const bool merged = RegOpenKeyExW(HKEY_CLASSES_ROOT, probe.c_str(), 0, KEY_READ, &seen) == ERROR_SUCCESS;
    if (merged) RegCloseKey(seen);
    RegDeleteTreeW(HKEY_CURRENT_USER, userKey.c_str());
    return merged ? ClassesPlace {HKEY_CURRENT_USER, L"Software\\Classes\\"} : ClassesPlace {HKEY_CLASSES_ROOT, L""};
  }();
  return place;
}

void setUserText(const std::wstring& key, const wchar_t* name, const std::wstring& text) {
  const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  ASSERT_EQ(RegSetKeyValueW(userClasses().root, (userClasses().prefix + key).c_str(), name, REG_SZ, text.c_str(), bytes),
            ERROR_SUCCESS);
}

void deleteUserKey(const std::wstring& key) {
  RegDeleteTreeW(userClasses().root, (userClasses().prefix + key).c_str());
}

struct UserKeys {
  ~UserKeys() {
    for (const std::wstring& key : {kChanging, kUpperCase, kLong, kUserType}) deleteUserKey(key);
  }
};

std::u16string lowered(std::u16string text) {
  for (char16_t& c : text) c = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
  return text;
}

// The MIME table's answer for `extension` (lower case) after a run of the passes: the last
// registration filed under it, lower-cased; "" for none.
std::u16string tableAnswer(const std::vector<Pair>& found, const std::u16string& extension) {
  std::u16string answer;
  for (const auto& [e, t] : found)
    if (lowered(e) == extension && !t.empty()) answer = lowered(t);
  return answer;
}

std::u16string oneKeyAnswer(const std::u16string& extension) { return tableAnswer(enumerate(extension), extension); }

}  // namespace

// The one-key lookup reads the registry afresh every time: a registration written, changed and
// removed between two lookups is seen by the next one, and each answer is the full table's (an
// extension key stored in upper case, a user type that names it later and wins, an overlong value
// that is skipped); so is the answer for ".ico" on this machine.
TEST(Win32ContentTypes, OneKeyLookupSeesEveryChangeAndGivesTheFullTablesAnswer) {
  const UserKeys keys;
  const std::u16string changing = lowered(u16(kChanging));
  const std::u16string upperCase = lowered(u16(kUpperCase));
  const std::u16string longOne = lowered(u16(kLong));
  EXPECT_EQ(oneKeyAnswer(changing), u"");

  setUserText(kChanging, L"Content Type", L"Application/X-First");
  setUserText(kUpperCase, L"Content Type", L"application/x-from-key");
  setUserText(kLong, L"Content Type", L"application/x-" + std::wstring(2000, L'l'));
  EXPECT_EQ(oneKeyAnswer(changing), u"application/x-first");
  EXPECT_EQ(oneKeyAnswer(upperCase), u"application/x-from-key");
  EXPECT_EQ(oneKeyAnswer(longOne), u"");
  std::vector<Pair> full = enumerate();
  EXPECT_EQ(tableAnswer(full, changing), u"application/x-first");
  EXPECT_EQ(tableAnswer(full, upperCase), u"application/x-from-key");
  EXPECT_EQ(tableAnswer(full, longOne), u"");

  setUserText(kChanging, L"Content Type", L"application/x-second");
  setUserText(kUserType, L"Extension", kUpperCase.substr(1));  // no dot, upper case
  EXPECT_EQ(oneKeyAnswer(changing), u"application/x-second");
  EXPECT_EQ(oneKeyAnswer(upperCase), u"application/x-talvenook-user" + u16(kSuffix));
  full = enumerate();
  EXPECT_EQ(tableAnswer(full, changing), u"application/x-second");
  EXPECT_EQ(tableAnswer(full, upperCase), u"application/x-talvenook-user" + u16(kSuffix));
  EXPECT_EQ(oneKeyAnswer(u".ico"), tableAnswer(full, u".ico"));

  deleteUserKey(kChanging);
  EXPECT_EQ(oneKeyAnswer(changing), u"");
}
