// The application object: initialisation, the main window's creation, the message loop and the
// termination request, over the platform's windows and message loop (platform/MainWindow.h). The
// order of events is the same everywhere: the creation handler runs to its end, the native main
// window is made only after it, and the loop takes messages until it retrieves the quit message
// that the handler requested.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/MainWindow.h"
#include "runtime/Exception.h"

namespace rt {

class TApplication {
 public:
  // `executableName` is the executable's file name (no folder); it gives the title.
  explicit TApplication(std::u16string_view executableName);

  // The executable's file name up to its first ".", every character after the first lower-cased.
  static std::u16string TitleFor(std::u16string_view executableName);
  // An error's message as the error box shows it: "." appended when the last character's code is
  // above that of "." itself.
  static std::u16string BoxTextFor(std::u16string_view message);

  // Makes the hidden application-level window, titled with the title: the owner of error boxes
  // and of the main window.
  void Initialize();
  // Off (the default and the only value the program sets): the main window is owned by the
  // application-level window and gets no taskbar button of its own.
  void SetMainFormOnTaskBar(bool value) { mainFormOnTaskBar_ = value; }

  // Creates a form without a native window: runs `creationHandler` to its end. An rt::Exception
  // or std::bad_alloc escaping from it is shown once in the error box, and termination is then
  // requested exactly as a completed handler requests it.
  void CreateForm(const std::function<void()>& creationHandler);
  // Creates the main window: runs `creationHandler` as above, then makes the native window with
  // `attributes` (not visible; a window the system cannot make is not an error).
  void CreateForm(const platform::MainWindowAttributes& attributes, const std::function<void()>& creationHandler);

  // Shows the main window, then, when termination was requested, takes and dispatches the
  // system's messages until the quit message is retrieved. Nothing else can post messages in
  // this single-threaded program, so without a termination request the loop ends at once.
  void Run();

  // Queues the quit message (the platform's quit message with code 0); nothing is torn down at
  // this moment.
  void Terminate();
  // True once Run has retrieved the quit message.
  bool Terminated() const { return terminated_; }

  // Shows an error's message in the error box with the title as caption.
  void ShowException(const std::u16string& message) const;

 private:
  std::u16string title_;
  std::unique_ptr<platform::ApplicationWindow> applicationWindow_;
  std::unique_ptr<platform::MainWindow> mainWindow_;
  bool initialized_ = false;
  bool mainFormOnTaskBar_ = false;
  bool quitQueued_ = false;
  bool terminated_ = false;
};

}  // namespace rt
