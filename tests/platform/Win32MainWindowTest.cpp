// The Windows main window and message loop: the stored attributes as the system reports them,
// and the loop ending at the quit message.
#include <gtest/gtest.h>

#include "platform/MainWindow.h"
#include "platform/win32/Win32Text.h"
#include "app/Umain.h"

// Layered, fully transparent, off-screen, a 14x11 client area, no border, the caption, not
// visible until shown, owned by the application-level window. Wine without a display may give no
// window at all; that is not an error, and then there is nothing to inspect.
TEST(Win32MainWindow, TheWindowCarriesTheStoredAttributes) {
  const platform::ApplicationWindow application(u"Talvenook");
  platform::MainWindow window(app::TFrm_image::NativeAttributes());
  if (!window.exists()) GTEST_SKIP() << "the system made no window (headless Wine)";
  const HWND handle = static_cast<HWND>(window.nativeHandle());

  EXPECT_FALSE(IsWindowVisible(handle));
  const LONG_PTR style = GetWindowLongPtrW(handle, GWL_STYLE);
  EXPECT_NE(style & WS_POPUP, 0);
  EXPECT_EQ(style & (WS_CAPTION | WS_THICKFRAME), 0);
  EXPECT_NE(GetWindowLongPtrW(handle, GWL_EXSTYLE) & WS_EX_LAYERED, 0);
  BYTE alpha = 255;
  DWORD flags = 0;
  if (GetLayeredWindowAttributes(handle, nullptr, &alpha, &flags)) {
    EXPECT_EQ(alpha, 0);
    EXPECT_NE(flags & LWA_ALPHA, 0u);
  }
  RECT client{};
  ASSERT_TRUE(GetClientRect(handle, &client));
  EXPECT_EQ(client.right - client.left, 14);
  EXPECT_EQ(client.bottom - client.top, 11);
  RECT frame{};
  ASSERT_TRUE(GetWindowRect(handle, &frame));
  EXPECT_EQ(frame.left, -1000);
  EXPECT_EQ(frame.top, -1000);
  wchar_t caption[32] = {};
  GetWindowTextW(handle, caption, 32);
  EXPECT_STREQ(caption, L"Talvenooks");
  if (application.exists()) {
    EXPECT_EQ(GetWindow(handle, GW_OWNER), static_cast<HWND>(application.nativeHandle()));
  }

  window.show();
  EXPECT_TRUE(IsWindowVisible(handle));
  EXPECT_NE(GetForegroundWindow(), handle);  // shown without taking the keyboard
}

// The loop dispatches what was queued before the quit message and returns its code; a quit
// requested before the loop starts is not lost.
TEST(Win32MainWindow, TheLoopEndsAtTheQuitMessageWithItsCode) {
  platform::MainWindow window(app::TFrm_image::NativeAttributes());
  ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_APP, 0, 0));
  platform::postQuitMessage(7);
  EXPECT_EQ(platform::runMessageLoop(), 7);
  MSG left{};
  EXPECT_FALSE(PeekMessageW(&left, nullptr, WM_APP, WM_APP, PM_REMOVE));

  platform::postQuitMessage(0);
  EXPECT_EQ(platform::runMessageLoop(), 0);
}
