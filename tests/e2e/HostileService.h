// The hostile-service set: each attack a scripted loopback service (or a hostile file or
// catalogue) played against the real `talvenook` binary in a program folder of its own. Used by
// the end-to-end suite (the quick attacks, with their verdicts) and by tools/hostile_service.sh
// (every attack, as a table of time to give up, peak memory and rows marked).
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ScriptedServer.h"

namespace hostile {

// What the program folder's catalogue holds.
enum class Catalogue {
  OneRow,     // one pending row whose executable has an icon
  FifoPath,   // one pending row whose exepath names a FIFO
  Mixed,      // a table without declared types: keys 5, NULL, 2.7 and "abc", a numeric name
};

struct Attack {
  std::string name;
  Catalogue catalogue = Catalogue::OneRow;
  // The scripts of the service's connections in order: the existence query, then the upload.
  std::vector<testsupport::ScriptedServer::Script> connections;
  bool slow = false;  // gives up only at the 120 s exchange deadline
};

struct Outcome {
  int exitCode = -1;          // -1 when it had to be killed
  double seconds = 0;         // from start to exit
  long peakKilobytes = 0;     // peak resident memory of the program itself
  int rowsMarked = 0;         // catalogue rows with pin = '1' afterwards
  std::string markedKeys;     // their IDs, as SQLite prints them, in row order
  std::size_t errorBytes = 0; // bytes the program wrote to standard error
  std::string errorHead;      // the first 64 KiB of it
};

// Every attack of the set, quick and slow.
std::vector<Attack> attacks();

// Runs `binary` once against `attack` in a fresh folder (with the connect-redirect preload
// `redirectLibrary`), killing it after `timeoutSeconds`.
Outcome run(const Attack& attack, const std::filesystem::path& binary, const std::filesystem::path& redirectLibrary,
            double timeoutSeconds);

}  // namespace hostile
