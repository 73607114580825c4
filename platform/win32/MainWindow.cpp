// The windows and the message loop on Windows: one window class for the hidden application-level
// window and the main window, whose messages all go to the default window procedure, and a
// GetMessage/DispatchMessage loop that ends at the thread's quit message.
#include "platform/MainWindow.h"

#include <algorithm>

#include "platform/win32/WindowOwner.h"
#include "platform/win32/Win32Text.h"

namespace platform {
namespace {

constexpr wchar_t kApplicationClass[] = L"TalvenookApplication";
constexpr wchar_t kMainWindowClass[] = L"TFrm_image";

HWND& liveApplicationWindow() {
  static HWND window = nullptr;
  return window;
}

// Registers `name` once per process with the default window procedure; false when the system
// refuses (the window is then simply not made).
bool registerClass(const wchar_t* name) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<const wchar_t*>(IDC_ARROW));
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = name;
  if (RegisterClassExW(&windowClass) != 0) return true;
  return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND toWindow(void* handle) { return static_cast<HWND>(handle); }

}  // namespace

namespace win32 {

HWND applicationWindowHandle() { return liveApplicationWindow(); }

}  // namespace win32

ApplicationWindow::ApplicationWindow(const std::u16string& title) {
  if (!registerClass(kApplicationClass)) return;
  // A popup of no size, never shown: it exists to own the program's other windows and boxes.
  handle_ = CreateWindowExW(0, kApplicationClass, win32::wide(title), WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 0, 0,
                            nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (handle_ != nullptr) liveApplicationWindow() = toWindow(handle_);
}

ApplicationWindow::~ApplicationWindow() {
  if (handle_ == nullptr) return;
  if (liveApplicationWindow() == toWindow(handle_)) liveApplicationWindow() = nullptr;
  DestroyWindow(toWindow(handle_));
}

MainWindow::MainWindow(const MainWindowAttributes& attributes) {
  if (!registerClass(kMainWindowClass)) return;
  const DWORD style = attributes.bordered ? WS_OVERLAPPEDWINDOW : WS_POPUP;
  const DWORD extendedStyle = attributes.layered ? WS_EX_LAYERED : 0;
  // The stored size is that of the client area; the window is that plus its frame, if any.
  RECT frame{0, 0, attributes.clientWidth, attributes.clientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, extendedStyle);
  // Owned by the application-level window, so it gets no taskbar button of its own.
  handle_ = CreateWindowExW(extendedStyle, kMainWindowClass, win32::wide(attributes.caption), style, attributes.left,
                            attributes.top, frame.right - frame.left, frame.bottom - frame.top,
                            win32::applicationWindowHandle(), nullptr, GetModuleHandleW(nullptr), nullptr);
  if (handle_ == nullptr) return;
  if (attributes.layered)
    SetLayeredWindowAttributes(toWindow(handle_), 0, static_cast<BYTE>(std::clamp(attributes.alpha, 0, 255)), LWA_ALPHA);
}

MainWindow::~MainWindow() {
  if (handle_ != nullptr) DestroyWindow(toWindow(handle_));
}

void MainWindow::show() {
  if (handle_ != nullptr) ShowWindow(toWindow(handle_), SW_SHOWNOACTIVATE);
}

void postQuitMessage(int exitCode) { PostQuitMessage(exitCode); }

int runMessageLoop() {
  MSG message{};
  // GetMessage gives 0 for the quit message and -1 when it fails (which it cannot for a null
  // window filter); either ends the loop.
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace platform
