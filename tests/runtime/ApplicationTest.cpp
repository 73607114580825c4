// The application object: title rule, error box text and the order of the loop.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/ErrorBox.h"
#include "runtime/TApplication.h"

using rt::TApplication;

TEST(Application, TitleIsTheNameUpToItsFirstDotCapitalisedOnlyAtTheStart) {
  EXPECT_EQ(TApplication::TitleFor(u"talvenook"), u"talvenook");
  EXPECT_EQ(TApplication::TitleFor(u"TALVENOOK.EXE"), u"Talvenook");
  EXPECT_EQ(TApplication::TitleFor(u"TalveNook.v2.exe"), u"Talvenook");
  EXPECT_EQ(TApplication::TitleFor(u".hidden"), u"");
}

// A full stop is added only when the last character sorts after "." itself.
TEST(Application, ErrorBoxTextGetsAFullStopAfterLettersNotAfterPunctuation) {
  EXPECT_EQ(TApplication::BoxTextFor(u"Table is at End of File"), u"Table is at End of File.");
  EXPECT_EQ(TApplication::BoxTextFor(u"done."), u"done.");
  EXPECT_EQ(TApplication::BoxTextFor(u"what!"), u"what!");
  EXPECT_EQ(TApplication::BoxTextFor(u"x: \"y\""), u"x: \"y\"");
  EXPECT_EQ(TApplication::BoxTextFor(u"Error 5"), u"Error 5.");
}

// The handler runs to its end before the loop, and the quit it queued ends the loop. An error in
// the handler still leads to quit.
TEST(Application, LoopEndsAtTheQuitMessageQueuedByTheHandler) {
  TApplication application(u"talvenook");
  application.CreateForm([&] { application.Terminate(); });
  application.Run();
  EXPECT_TRUE(application.Terminated());

  // The error box gets the title and the text with its full stop (caught through the box's test
  // hook on every platform; the Linux box's line on standard error: PosixApplicationTest.cpp).
  std::vector<std::pair<std::u16string, std::u16string>> boxes;
  platform::setErrorBoxSink([&](const std::u16string& title, const std::u16string& text) { boxes.emplace_back(title, text); });
  TApplication failing(u"talvenook");
  failing.CreateForm([] { throw rt::Exception(u"boom"); });
  failing.Run();
  platform::setErrorBoxSink(nullptr);
  EXPECT_EQ(boxes, (std::vector<std::pair<std::u16string, std::u16string>>{{u"talvenook", u"boom."}}));
  EXPECT_TRUE(failing.Terminated());
}
