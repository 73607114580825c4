// The program's windows and the thread's message loop.
//
// On Windows these are real: a hidden application-level window (the owner of error boxes and of
// the main window, so that neither gets a taskbar button), the main window with its stored
// attributes, and a GetMessage/DispatchMessage loop that ends at the thread's quit message. Off
// Windows there is no desktop: the windows hold nothing, and the loop stand-in ends at once, at
// the quit message when one was requested.
//
// How the application object uses this, after the upload pass has run:
//   platform::MainWindow window(attributes);   // created after the pass, not visible yet
//   window.show();                              // stays invisible: transparent and off-screen
//   const int code = platform::runMessageLoop();  // ends at the quit message the pass requested
#pragma once

#include <string>

namespace platform {

// The stored attributes of the main window. Position and size are in screen pixels; the client
// area is the inside of the window, without any border or caption bar.
struct MainWindowAttributes {
  int left = 0;
  int top = 0;
  int clientWidth = 0;
  int clientHeight = 0;
  bool bordered = true;   // false: a popup window without caption bar or sizing border
  bool layered = false;   // alpha blending of the whole window
  int alpha = 255;        // 0 (fully transparent) .. 255, used when layered
  std::u16string caption;
};

// The hidden application-level window, titled with the application's title. While it lives it
// owns the error boxes shown when no window of the program is active, and the main windows made
// meanwhile. Creation never fails: when the system gives no window, the object holds none.
class ApplicationWindow {
 public:
  explicit ApplicationWindow(const std::u16string& title);
  ~ApplicationWindow();
  ApplicationWindow(const ApplicationWindow&) = delete;
  ApplicationWindow& operator=(const ApplicationWindow&) = delete;

  bool exists() const { return handle_ != nullptr; }
  void* nativeHandle() const { return handle_; }

 private:
  void* handle_ = nullptr;
};

// The main window, made not visible with `attributes`, destroyed with the object. Creation never
// fails: a window that the system cannot make (Wine without a display may give none) is not an
// error; the object then holds none and show() does nothing.
class MainWindow {
 public:
  explicit MainWindow(const MainWindowAttributes& attributes);
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  bool exists() const { return handle_ != nullptr; }
  void* nativeHandle() const { return handle_; }

  // Shows the window without activating it (it would take the keyboard from the user's window
  // for nothing: it is transparent and off-screen).
  void show();

 private:
  void* handle_ = nullptr;
};

// Queues the calling thread's quit message with `exitCode` (PostQuitMessage): the loop retrieves
// it once the messages queued before it are dispatched. Nothing is torn down at this moment.
void postQuitMessage(int exitCode);

// Takes and dispatches the calling thread's messages until the quit message is retrieved, and
// returns its exit code. Off Windows nothing else can post messages: it returns at once, with
// the code of a requested quit message or 0.
int runMessageLoop();

}  // namespace platform
