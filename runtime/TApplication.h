// The application object: initialisation, the main window's creation, the message loop and the
// termination request. Off Windows the "window" and the loop are an in-process stand-in that keeps
// the same order of events: the creation handler runs to its end, then the loop takes messages
// until it retrieves the quit message that the handler queued.
#pragma once

#include <deque>
#include <functional>
#include <string>

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

  const std::u16string& Title() const { return title_; }
  void Initialize();
  void SetMainFormOnTaskBar(bool value) { mainFormOnTaskBar_ = value; }

  // Creates the main window: runs `creationHandler` to its end. An rt::Exception or
  // std::bad_alloc escaping from it is shown once in the error box, and termination is then
  // requested exactly as a completed handler requests it.
  void CreateForm(const std::function<void()>& creationHandler);

  // Takes and dispatches messages until the quit message is retrieved. Nothing else can post
  // messages in this single-threaded program, so an empty queue also ends the loop.
  void Run();

  // Queues the quit message; nothing is torn down at this moment.
  void Terminate();
  bool Terminated() const { return terminated_; }

  // Queues a message (a function run by the loop).
  void PostMessage(std::function<void()> message);

  // Shows an error's message in the error box with the title as caption.
  void ShowException(const std::u16string& message) const;

 private:
  struct Message {
    bool quit = false;
    std::function<void()> action;
  };

  std::u16string title_;
  bool initialized_ = false;
  bool mainFormOnTaskBar_ = false;
  bool running_ = false;
  bool terminated_ = false;
  std::deque<Message> queue_;
};

}  // namespace rt
