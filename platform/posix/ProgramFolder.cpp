// The program folder on Linux: the folder of /proc/self/exe.
#include "platform/ProgramFolder.h"

#include <climits>
#include <unistd.h>

#include "platform/TextCodePage.h"

namespace platform {

std::u16string executablePath() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0) return {};
  return fromAnsi(std::string_view(buffer, static_cast<size_t>(length)));
}

std::u16string programFolder() {
  const std::u16string path = executablePath();
  const auto cut = path.find_last_of(u'/');
  return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut + 1);
}

char16_t pathSeparator() { return u'/'; }

}  // namespace platform
