// The modal error box that reports an error that ended the upload pass.
#pragma once

#include <string>

namespace platform {

// Shows `text` with the caption `title` and the error icon, and returns when it is dismissed.
// Off Windows this is one line on standard error: title, ": ", text.
void showErrorBox(const std::u16string& title, const std::u16string& text);

}  // namespace platform
