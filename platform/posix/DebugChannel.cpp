// Debug channel on POSIX: one line on standard error per call.
#include "platform/DebugChannel.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <utility>

#include "platform/TextCodePage.h"

namespace platform {
namespace {

std::function<void(const std::u16string&)>& debugSink() {
  static std::function<void(const std::u16string&)> sink;
  return sink;
}

// A debug line carries text from outside (a service's reply): written raw, its control
// characters would drive the terminal (clear the screen, move the cursor, forge a line of ours).
// Each one but tab is written as a visible escape instead: "\r", "\n", "\x1b", and the C1
// controls, which some terminals also obey, as "\u009b". Everything else stays as it is.
std::u16string visibleControls(const std::u16string& line) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::u16string out;
  out.reserve(line.size());
  for (const char16_t c : line) {
    if (c == u'\t' || (c >= 0x20 && c < 0x7F) || c > 0x9F) {
      out += c;
    } else if (c == u'\r') {
      out += u"\\r";
    } else if (c == u'\n') {
      out += u"\\n";
    } else if (c < 0x80) {
      out += {u'\\', u'x', static_cast<char16_t>(kHex[c >> 4]), static_cast<char16_t>(kHex[c & 0xF])};
    } else {
      out += {u'\\', u'u', u'0', u'0', static_cast<char16_t>(kHex[c >> 4]), static_cast<char16_t>(kHex[c & 0xF])};
    }
  }
  return out;
}

// Whether standard error leads nowhere (it is the null device), as it does for a program started
// by a service or a scheduler. Like Windows' debug output with no debugger to hear it, the lines
// are then neither formatted nor written. Asked once: the program does not move its standard error.
bool nobodyListens() {
  static const bool discarded = [] {
    struct stat error {}, null {};
    return fstat(STDERR_FILENO, &error) == 0 && S_ISCHR(error.st_mode) && stat("/dev/null", &null) == 0 &&
           S_ISCHR(null.st_mode) && error.st_rdev == null.st_rdev;
  }();
  return discarded;
}

}  // namespace

void debugOutput(const std::u16string& line) {
  if (debugSink()) {
    debugSink()(line);
    return;
  }
  if (nobodyListens()) return;
  const std::string bytes = toAnsi(visibleControls(line)) + "\n";
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  std::fflush(stderr);
}

bool debugListening() { return debugSink() || !nobodyListens(); }

void setDebugSink(std::function<void(const std::u16string&)> sink) { debugSink() = std::move(sink); }

}  // namespace platform
