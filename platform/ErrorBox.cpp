// The error box's test sink, shared by every platform; the box itself is each platform's own
// showSystemErrorBox.
#include "platform/ErrorBox.h"

#include <utility>

namespace platform {
namespace {

ErrorBoxSink& errorBoxSink() {
  static ErrorBoxSink sink;
  return sink;
}

}  // namespace

void showErrorBox(const std::u16string& title, const std::u16string& text) {
  if (errorBoxSink()) {
    errorBoxSink()(title, text);
    return;
  }
  showSystemErrorBox(title, text);
}

void setErrorBoxSink(ErrorBoxSink sink) { errorBoxSink() = std::move(sink); }

}  // namespace platform
