// The debug channel and the error line on standard error: control characters from outside reach
// the terminal only as visible escapes in a debug line, while an error line keeps its message.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/DebugChannel.h"
#include "platform/ErrorBox.h"
#include "tests/support/TempFolder.h"

namespace {

// Everything `write` puts on standard error, caught in a file.
template <typename Write>
std::string standardErrorOf(Write write) {
  testsupport::TempFolder folder;
  const std::string path = (folder.path() / "stderr").string();
  std::fflush(stderr);
  const int saved = dup(2);
  FILE* capture = std::fopen(path.c_str(), "w");
  dup2(fileno(capture), 2);
  write();
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::fclose(capture);
  return testsupport::readFileBytes(folder.path() / "stderr");
}

}  // namespace

// A reply that clears the screen and forges a line of ours comes out as one harmless line.
TEST(PosixDebugChannelTest, ControlCharactersAreWrittenAsEscapes) {
  platform::setDebugSink({});
  const std::string written = standardErrorOf([] {
    platform::debugOutput(u"ResponseStream: {\"ok\":1}\r\n\x1b[2J\x1b[H\rtalvenook: forged line\tend\u009b\u007f\x01 caf\u00e9");
  });
  EXPECT_EQ(written,
            "ResponseStream: {\"ok\":1}\\r\\n\\x1b[2J\\x1b[H\\rtalvenook: forged line\tend\\u009b\\x7f\\x01 caf\xc3\xa9\n");
}

// The error line is the program's own message, carriage returns and all.
TEST(PosixDebugChannelTest, ErrorLineKeepsTheMessage) {
  const std::string written = standardErrorOf([] { platform::showErrorBox(u"talvenook", u"Error executing SQL.\rError [1]"); });
  EXPECT_EQ(written, "talvenook: Error executing SQL.\rError [1]\n");
}
