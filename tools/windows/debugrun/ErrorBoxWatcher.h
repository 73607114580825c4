// Finds the error boxes of one process: top-level dialog windows (class "#32770") that belong to
// it and are visible. Each box found is reported once (caption and text) and dismissed with its
// OK button, or closed when it has none, so a program under test never waits for a user.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

namespace debugrun {

struct ErrorBox {
  std::wstring caption;
  std::wstring text;  // the texts of its static controls, joined by line feeds
};

class ErrorBoxWatcher {
 public:
  explicit ErrorBoxWatcher(DWORD processId) : processId_(processId) {}

  // Looks once for new boxes of the process; reports and dismisses each. Returns the boxes found.
  // Call it only while the process runs (not while a debug event of it is held), since reading a
  // window's text sends it a message.
  std::vector<ErrorBox> poll();

 private:
  static BOOL CALLBACK visitTopLevel(HWND window, LPARAM self);
  bool isNewBoxOfProcess(HWND window) const;

  DWORD processId_;
  std::set<HWND> seen_;
  std::vector<HWND> found_;
};

}  // namespace debugrun
