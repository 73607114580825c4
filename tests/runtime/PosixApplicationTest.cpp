// The application object's error box on Linux: one line on standard error, title, ": ", text.
#include <gtest/gtest.h>

#include "runtime/Exception.h"
#include "runtime/TApplication.h"

TEST(PosixApplication, TheErrorBoxIsOneLineOnStandardError) {
  rt::TApplication failing(u"talvenook");
  testing::internal::CaptureStderr();
  failing.CreateForm([] { throw rt::Exception(u"boom"); });
  failing.Run();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "talvenook: boom.\n");
  EXPECT_TRUE(failing.Terminated());
}
