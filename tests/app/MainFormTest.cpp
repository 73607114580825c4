// The main form's native window: made with the stored attributes, which are also the ones the
// window and message-loop tests use (tests/support/ProgramWindow.h), so those tests exercise the
// program's real window.
#include <gtest/gtest.h>

#include "app/Umain.h"
#include "tests/support/ProgramWindow.h"

TEST(MainForm, TheNativeWindowCarriesTheStoredAttributes) {
  const platform::MainWindowAttributes native = app::TFrm_image::NativeAttributes();
  const platform::MainWindowAttributes expected = testsupport::programWindowAttributes();
  EXPECT_EQ(native.left, expected.left);
  EXPECT_EQ(native.top, expected.top);
  EXPECT_EQ(native.clientWidth, expected.clientWidth);
  EXPECT_EQ(native.clientHeight, expected.clientHeight);
  EXPECT_EQ(native.bordered, expected.bordered);
  EXPECT_EQ(native.layered, expected.layered);
  EXPECT_EQ(native.alpha, expected.alpha);
  EXPECT_EQ(native.caption, expected.caption);
}
