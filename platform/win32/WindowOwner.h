// The application-level window as the owner of other windows and boxes, for platform/win32 only.
#pragma once

#include "platform/win32/Win32Text.h"

namespace platform::win32 {

// The live application-level window (platform::ApplicationWindow), or none.
HWND applicationWindowHandle();

}  // namespace platform::win32
