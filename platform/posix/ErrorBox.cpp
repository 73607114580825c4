// Error box on POSIX: a single line on standard error (there is no desktop to show a box on).
#include "platform/ErrorBox.h"

#include <cstdio>
#include <utility>

#include "platform/TextCodePage.h"

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
  const std::string line = toAnsi(title) + ": " + toAnsi(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void setErrorBoxSink(ErrorBoxSink sink) { errorBoxSink() = std::move(sink); }

}  // namespace platform
