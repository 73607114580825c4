// Debug channel on POSIX: one line on standard error per call.
#include "platform/DebugChannel.h"

#include <cstdio>
#include <utility>

#include "platform/TextCodePage.h"

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
  const std::string bytes = toAnsi(line) + "\n";
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  std::fflush(stderr);
}

void setDebugSink(std::function<void(const std::u16string&)> sink) { debugSink() = std::move(sink); }

}  // namespace platform
