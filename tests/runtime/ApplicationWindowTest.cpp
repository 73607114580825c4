// The application object with a native main window (a real one on Windows): the window is made
// only after the creation handler, an error in the handler still leads to a window and a loop
// that ends at the quit message.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ErrorBox.h"
#include "runtime/TApplication.h"
#include "app/Umain.h"

// The pass (the handler) runs to its end within the creation, and its quit request ends the loop
// after the window was shown.
TEST(ApplicationWindow, ThePassRunsFirstAndItsQuitRequestEndsTheLoop) {
  std::vector<int> order;
  rt::TApplication application(u"talvenook.exe");
  application.Initialize();
  application.SetMainFormOnTaskBar(false);
  application.CreateForm(app::TFrm_image::NativeAttributes(), [&] {
    order.push_back(1);
    application.Terminate();
  });
  order.push_back(2);
  application.Run();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_TRUE(application.Terminated());
}

// An error that ends the pass is shown once, with the title as caption; the window is still made
// and the loop still ends.
TEST(ApplicationWindow, AnErrorInThePassIsShownOnceAndTheLoopStillEnds) {
  std::vector<std::u16string> boxes;
  platform::setErrorBoxSink([&](const std::u16string& title, const std::u16string& text) { boxes.push_back(title + u"|" + text); });
  rt::TApplication application(u"TALVENOOK.EXE");
  application.Initialize();
  application.CreateForm(app::TFrm_image::NativeAttributes(), [] { throw rt::Exception(u"Table is at End of File"); });
  application.Run();
  platform::setErrorBoxSink(nullptr);
  EXPECT_EQ(boxes, (std::vector<std::u16string>{u"Talvenook|Table is at End of File."}));
  EXPECT_TRUE(application.Terminated());
}
