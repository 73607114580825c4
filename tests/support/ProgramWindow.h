// The attributes of the program's own main window, for tests of the window and the message loop.
#pragma once

#include "platform/MainWindow.h"

namespace testsupport {

// Off-screen at -1000,-1000, a 14x11 client area, no border, layered and fully transparent, with
// the program's caption.
inline platform::MainWindowAttributes programWindowAttributes() {
  platform::MainWindowAttributes attributes;
  attributes.left = -1000;
  attributes.top = -1000;
  attributes.clientWidth = 14;
  attributes.clientHeight = 11;
  attributes.bordered = false;
  attributes.layered = true;
  attributes.alpha = 0;
  attributes.caption = u"Talvenooks";
  return attributes;
}

}  // namespace testsupport
