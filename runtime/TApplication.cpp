// The application object: the creation handler, the main window and the message loop.
#include "runtime/TApplication.h"

#include <new>

#include "platform/ErrorBox.h"
#include "runtime/Text.h"

namespace rt {

TApplication::TApplication(std::u16string_view executableName) : title_(TitleFor(executableName)) {}

std::u16string TApplication::TitleFor(std::u16string_view executableName) {
  std::u16string_view name = executableName.substr(0, executableName.find(u'.'));
  if (name.empty()) return {};
  return std::u16string(1, name[0]) + lowerCase(name.substr(1));
}

std::u16string TApplication::BoxTextFor(std::u16string_view message) {
  std::u16string text(message);
  if (!text.empty() && text.back() > u'.') text += u'.';
  return text;
}

void TApplication::Initialize() {
  if (initialized_) return;
  initialized_ = true;
  applicationWindow_ = std::make_unique<platform::ApplicationWindow>(title_);
}

void TApplication::CreateForm(const platform::MainWindowAttributes& attributes,
                              const std::function<void()>& creationHandler) {
  CreateForm(creationHandler);
  // Only after the handler has returned, so no message can be processed while the pass runs.
  mainWindow_ = std::make_unique<platform::MainWindow>(attributes);
}

void TApplication::CreateForm(const std::function<void()>& creationHandler) {
  try {
    creationHandler();
  } catch (const Exception& error) {
    ShowException(error.Message());
    Terminate();
  } catch (const std::bad_alloc&) {
    ShowException(u"Out of memory");
    Terminate();
  }
}

void TApplication::Run() {
  if (mainWindow_) mainWindow_->show();
  if (!quitQueued_) return;
  // The platform's quit message was queued with ours: the system's loop ends at it.
  platform::runMessageLoop();
  quitQueued_ = false;
  terminated_ = true;
}

void TApplication::Terminate() {
  quitQueued_ = true;
  platform::postQuitMessage(0);
}

void TApplication::ShowException(const std::u16string& message) const {
  platform::showErrorBox(title_, BoxTextFor(message));
}

}  // namespace rt
