// Error box on Windows: a modal message box with the error icon and an OK button.
#include "platform/ErrorBox.h"

#include <utility>

#include "platform/win32/WindowOwner.h"
#include "platform/win32/Win32Text.h"

namespace platform {
namespace {

ErrorBoxSink& errorBoxSink() {
  static ErrorBoxSink sink;
  return sink;
}

}  // namespace

void showErrorBox(const std::u16string& title, const std::u16string& text) {
  if (errorBoxSink()) {
    errorBoxSink()(title, text);
    return;
  }
  HWND owner = GetActiveWindow();
  if (owner == nullptr) owner = win32::applicationWindowHandle();
  MessageBoxW(owner, win32::wide(text), win32::wide(title), MB_ICONERROR | MB_OK);
}

void setErrorBoxSink(ErrorBoxSink sink) { errorBoxSink() = std::move(sink); }

}  // namespace platform
