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

bool TApplication::dispatchPosted() {
  while (!queue_.empty()) {
    Message message = std::move(queue_.front());
    queue_.pop_front();
    if (message.quit) {
      queue_.clear();
      return true;
    }
    if (message.action) message.action();
  }
  return false;
}

void TApplication::Run() {
  running_ = true;
  if (mainWindow_) mainWindow_->show();
  if (dispatchPosted()) {
    // The platform's quit message was queued with ours: the system's loop ends at it.
    platform::runMessageLoop();
    terminated_ = true;
  }
  running_ = false;
}

void TApplication::Terminate() {
  queue_.push_back({true, {}});
  platform::postQuitMessage(0);
}

void TApplication::PostMessage(std::function<void()> message) { queue_.push_back({false, std::move(message)}); }

void TApplication::ShowException(const std::u16string& message) const {
  platform::showErrorBox(title_, BoxTextFor(message));
}

}  // namespace rt
