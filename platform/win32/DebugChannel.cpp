// Debug channel on Windows: OutputDebugStringW, read by an attached debugger or a debug viewer.
#include "platform/DebugChannel.h"

#include <utility>

#include "platform/win32/Win32Text.h"

namespace platform {
namespace {

std::function<void(const std::u16string&)>& debugSink() {
  static std::function<void(const std::u16string&)> sink;
  return sink;
}

}  // namespace

void debugOutput(const std::u16string& line) {
  if (debugSink()) {
    debugSink()(line);
    return;
  }
  OutputDebugStringW(win32::wide(line));
}

bool debugListening() { return true; }

void setDebugSink(std::function<void(const std::u16string&)> sink) { debugSink() = std::move(sink); }

}  // namespace platform
