// The ANSI code page, case mapping and the program folder on Windows.
#include <gtest/gtest.h>

#include "platform/ProgramFolder.h"
#include "platform/TextCodePage.h"
#include "platform/win32/Win32Text.h"

// Text the ANSI code page holds goes there and back; what it cannot hold becomes "?".
TEST(Win32Text, TheAnsiCodePageRoundTripsWhatItHolds) {
  EXPECT_EQ(platform::fromAnsi(platform::toAnsi(u"Notepad++ 1.0")), u"Notepad++ 1.0");
  if (GetACP() == 1252) {
    EXPECT_EQ(platform::toAnsi(u"Caf\u00E9"), "Caf\xE9");
    EXPECT_EQ(platform::fromAnsi("Caf\xE9"), u"Caf\u00E9");
    EXPECT_EQ(platform::toAnsi(u"\u65E5\u672C"), "??");
  }
  EXPECT_EQ(platform::toAnsi(u""), "");
  EXPECT_EQ(platform::fromAnsi(""), u"");
}

// Case mapping follows the system beyond ASCII; surrogates stay as they are.
TEST(Win32Text, CaseMappingCoversAccentedLetters) {
  EXPECT_EQ(platform::upperChar(u'a'), u'A');
  EXPECT_EQ(platform::lowerChar(u'Z'), u'z');
  EXPECT_EQ(platform::upperChar(u'\u00E9'), u'\u00C9');
  EXPECT_EQ(platform::lowerChar(u'\u00C4'), u'\u00E4');
  EXPECT_EQ(platform::lowerChar(u'\u0416'), u'\u0436');
  EXPECT_EQ(platform::upperChar(u'\xD83D'), u'\xD83D');
  EXPECT_EQ(platform::upperChar(u'1'), u'1');
}

// The program folder is the module's path cut after its last "\", with the ".exe" left behind.
TEST(Win32Text, TheProgramFolderEndsInABackslash) {
  const std::u16string path = platform::executablePath();
  ASSERT_GT(path.size(), 4u);
  EXPECT_EQ(platform::lowerChar(path[path.size() - 1]), u'e');
  const std::u16string folder = platform::programFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), u'\\');
  EXPECT_EQ(path.rfind(folder, 0), 0u);
  EXPECT_EQ(platform::pathSeparator(), u'\\');
}
