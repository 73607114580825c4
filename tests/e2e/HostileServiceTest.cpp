// The hostile-service set against the real binary, quick attacks only (the trickles need the full
// 120 s deadline; tools/hostile_service.sh runs them). Each attack: the program gives up and exits
// normally, keeps far less memory than a 100 MB reply, and marks no row it must not mark.
#include <gtest/gtest.h>

#include "tests/e2e/HostileService.h"

namespace {

hostile::Outcome play(const std::string& name) {
  for (const hostile::Attack& attack : hostile::attacks()) {
    if (attack.name == name) return hostile::run(attack, TALVENOOK_BINARY, E2E_REDIRECT_LIBRARY, 60);
  }
  ADD_FAILURE() << "no attack named " << name;
  return {};
}

}  // namespace

// Floods and oversized replies: refused at the header line limit or the 1 MiB reply limit.
TEST(HostileService, FloodsAndOversizedRepliesFailTheCallInBoundedMemory) {
  for (const char* name : {"endless 100 Continue", "100 MB reply, announced", "100 MB reply, until close",
                           "100 MB reply to the existence query"}) {
    const hostile::Outcome outcome = play(name);
    EXPECT_EQ(outcome.exitCode, 0) << name;
    EXPECT_EQ(outcome.rowsMarked, 0) << name;
    // A kept 100 MB reply cost 517 MB; the limit keeps the whole program far below the reply.
    EXPECT_LT(outcome.peakKilobytes, 64 * 1024) << name;
    EXPECT_LT(outcome.errorBytes, std::size_t {1} << 20) << name;
  }
}

// Replies cut short or mis-framed never complete an upload, so the row stays pending.
TEST(HostileService, CutRepliesLeaveTheRowPending) {
  for (const char* name : {"status line, then close", "Content-Length 200, 14 bytes, close", "chunk size \"zz\"",
                           "chunked, cut before the last chunk"}) {
    const hostile::Outcome outcome = play(name);
    EXPECT_EQ(outcome.exitCode, 0) << name;
    EXPECT_EQ(outcome.rowsMarked, 0) << name;
  }
}

// A reply with terminal control sequences reaches standard error only as visible escapes, and
// interim replies and 201 Created complete a good upload.
TEST(HostileService, ControlSequencesAreEscapedAndInteropRepliesSucceed) {
  const hostile::Outcome escaped = play("ESC sequences and CR LF in the reply");
  EXPECT_EQ(escaped.rowsMarked, 1);
  EXPECT_EQ(escaped.errorHead.find('\x1b'), std::string::npos);
  EXPECT_EQ(escaped.errorHead.find('\r'), std::string::npos);
  EXPECT_EQ(escaped.errorHead.find("\ntalvenook: forged line"), std::string::npos);
  EXPECT_NE(escaped.errorHead.find("\\r\\n\\x1b[2J\\x1b[H\\rtalvenook: forged line"), std::string::npos);

  const hostile::Outcome created = play("103 Early Hints, then 201 Created + Location");
  EXPECT_EQ(created.exitCode, 0);
  EXPECT_EQ(created.rowsMarked, 1);
}

// A FIFO as exepath is no icon and ends the pass at once; a hostile catalogue marks exactly the
// rows it uploaded, each by its own key, and never the row a null or a real key would read as.
TEST(HostileService, FifoPathAndHostileCatalogue) {
  const hostile::Outcome fifo = play("exepath is a FIFO");
  EXPECT_EQ(fifo.exitCode, 0);
  EXPECT_EQ(fifo.rowsMarked, 0);

  const hostile::Outcome mixed = play("catalogue: NULL, 2.7, 'abc' keys, numeric name");
  EXPECT_EQ(mixed.exitCode, 0);
  EXPECT_EQ(mixed.markedKeys, "5 2.7 'abc'");
}
