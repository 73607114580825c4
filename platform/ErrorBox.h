// The modal error box that reports an error that ended the upload pass.
#pragma once

#include <functional>
#include <string>

namespace platform {

// Shows `text` with the caption `title` and the error icon, and returns when it is dismissed.
// On Windows a message box (MB_ICONERROR | MB_OK) owned by the active window, else by the
// application-level window; off Windows one line on standard error: title, ": ", text.
void showErrorBox(const std::u16string& title, const std::u16string& text);

// Tests: sends every error box to `sink` instead (nothing is shown or written); an empty
// function restores the real box. Not thread-safe: set it before the code under test runs.
using ErrorBoxSink = std::function<void(const std::u16string& title, const std::u16string& text)>;
void setErrorBoxSink(ErrorBoxSink sink);

// The platform's own box, without the sink: implemented once per platform, called by showErrorBox.
void showSystemErrorBox(const std::u16string& title, const std::u16string& text);

}  // namespace platform
