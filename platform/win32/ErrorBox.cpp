// Error box on Windows: a modal message box with the error icon and an OK button.
#include "platform/ErrorBox.h"

#include "platform/win32/WindowOwner.h"
#include "platform/win32/Win32Text.h"

namespace platform {

void showSystemErrorBox(const std::u16string& title, const std::u16string& text) {
  HWND owner = GetActiveWindow();
  if (owner == nullptr) owner = win32::applicationWindowHandle();
  MessageBoxW(owner, win32::wide(text), win32::wide(title), MB_ICONERROR | MB_OK);
}

}  // namespace platform
