// Error box on POSIX: a single line on standard error (there is no desktop to show a box on).
#include "platform/ErrorBox.h"

#include <cstdio>

#include "platform/TextCodePage.h"

namespace platform {

void showSystemErrorBox(const std::u16string& title, const std::u16string& text) {
  const std::string line = toAnsi(title) + ": " + toAnsi(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace platform
