// The windows and the message loop off Windows: there is no desktop, so the windows are nothing,
// and the loop stand-in ends at once at the quit message that was requested.
#include "platform/MainWindow.h"

#include <optional>

namespace platform {
namespace {

std::optional<int>& pendingQuit() {
  static std::optional<int> code;
  return code;
}

}  // namespace

ApplicationWindow::ApplicationWindow(const std::u16string& /*title*/) {}
ApplicationWindow::~ApplicationWindow() = default;

MainWindow::MainWindow(const MainWindowAttributes& /*attributes*/) {}
MainWindow::~MainWindow() = default;
void MainWindow::show() {}

void postQuitMessage(int exitCode) { pendingQuit() = exitCode; }

int runMessageLoop() {
  const int code = pendingQuit().value_or(0);
  pendingQuit().reset();
  return code;
}

}  // namespace platform
