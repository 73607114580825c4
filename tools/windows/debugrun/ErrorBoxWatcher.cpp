// Error boxes of the debuggee. The texts are read with WM_GETTEXT under a timeout, so a box whose
// thread does not answer cannot stop debugrun; dismissing posts the button's click (or WM_CLOSE)
// and does not wait for it.
#include "ErrorBoxWatcher.h"

namespace debugrun {
namespace {

constexpr UINT kTextTimeoutMilliseconds = 2000;

std::wstring classOf(HWND window) {
  wchar_t name[64] = {};
  const int length = GetClassNameW(window, name, 64);
  return std::wstring(name, static_cast<std::size_t>(length > 0 ? length : 0));
}

std::wstring textOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kTextTimeoutMilliseconds, &length))
    return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, static_cast<WPARAM>(text.size()), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_ABORTIFHUNG, kTextTimeoutMilliseconds, &copied))
    return {};
  text.resize(static_cast<std::size_t>(copied) < text.size() ? static_cast<std::size_t>(copied) : text.size() - 1);
  return text;
}

BOOL CALLBACK collectStaticText(HWND child, LPARAM into) {
  if (classOf(child) != L"Static") return TRUE;
  const std::wstring text = textOf(child);
  if (text.empty()) return TRUE;  // the icon of the box is a static control without text
  auto& joined = *reinterpret_cast<std::wstring*>(into);
  if (!joined.empty()) joined += L"\n";
  joined += text;
  return TRUE;
}

void dismiss(HWND box) {
  if (const HWND ok = GetDlgItem(box, IDOK); ok != nullptr) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
    return;
  }
  PostMessageW(box, WM_CLOSE, 0, 0);
}

}  // namespace

BOOL CALLBACK ErrorBoxWatcher::visitTopLevel(HWND window, LPARAM self) {
  auto* watcher = reinterpret_cast<ErrorBoxWatcher*>(self);
  if (watcher->isNewBoxOfProcess(window)) watcher->found_.push_back(window);
  return TRUE;
}

bool ErrorBoxWatcher::isNewBoxOfProcess(HWND window) const {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  return owner == processId_ && IsWindowVisible(window) && classOf(window) == L"#32770" && !seen_.contains(window);
}

std::vector<ErrorBox> ErrorBoxWatcher::poll() {
  found_.clear();
  EnumWindows(visitTopLevel, reinterpret_cast<LPARAM>(this));
  std::vector<ErrorBox> boxes;
  for (const HWND window : found_) {
    seen_.insert(window);
    ErrorBox box;
    box.caption = textOf(window);
    EnumChildWindows(window, collectStaticText, reinterpret_cast<LPARAM>(&box.text));
    dismiss(window);
    boxes.push_back(std::move(box));
  }
  return boxes;
}

}  // namespace debugrun
