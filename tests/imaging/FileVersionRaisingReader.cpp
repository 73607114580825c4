// fileVersionText over a version reader that raises. The platform promises a reader that raises
// only std::bad_alloc, but the version text must never raise whatever the reader does: this
// executable links its own platform::Executable in place of the platform's (the linker takes the
// definitions here and never pulls the platform's from its library), whose version read raises
// whatever error the test sets.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/FileVersion.h"
#include "platform/DebugChannel.h"
#include "platform/Executable.h"
#include "platform/executable/ByteSource.h"
#include "runtime/Exception.h"

namespace {

std::function<void()> raiseInReader;

}  // namespace

namespace platform {

Executable::Executable(std::u16string path) : path_(std::move(path)) {}
Executable::~Executable() = default;
std::optional<IconBitmaps> Executable::iconBitmaps48() const { return std::nullopt; }

std::optional<FileVersionWords> Executable::fileVersionWords() const {
  raiseInReader();
  return FileVersionWords{0x00010002, 0x00030004};
}

}  // namespace platform

namespace {

// Errors of every family give "0.0.0.0" and one debug line; a reader that answers gives its text.
TEST(FileVersionText, NoErrorOfTheReaderEscapes) {
  std::vector<std::u16string> lines;
  platform::setDebugSink([&](const std::u16string& line) { lines.push_back(line); });
  const std::vector<std::pair<std::function<void()>, std::u16string>> errors = {
      {[] { throw rt::Exception(u"Stream read error"); }, u"ResponseStream: Stream read error"},
      {[] { throw std::bad_alloc(); }, u"ResponseStream: Out of memory"},
      {[] { throw std::length_error("vector too long"); }, u"ResponseStream: vector too long"},
      {[] { throw std::runtime_error("reader broke"); }, u"ResponseStream: reader broke"},
  };
  for (const auto& [raise, line] : errors) {
    raiseInReader = raise;
    lines.clear();
    EXPECT_EQ(imaging::fileVersionText(platform::Executable(u"app.exe")), u"0.0.0.0");
    EXPECT_EQ(lines, std::vector<std::u16string>{line});
  }
  raiseInReader = [] {};
  lines.clear();
  EXPECT_EQ(imaging::fileVersionText(platform::Executable(u"app.exe")), u"1.2.3.4");
  EXPECT_TRUE(lines.empty());
  platform::setDebugSink(nullptr);
}

}  // namespace
