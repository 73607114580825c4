// What a hostile user plants in the program's folders, made from a test: symbolic links and FIFOs.
// Under Wine, which makes neither itself, they are made on the Unix side with Unix's own programs.
#pragma once

#include <filesystem>

namespace testsupport {

// Makes a symbolic link at `link` that leads to `target` (a file or a folder, which need not
// exist). False when this platform cannot make one at all.
bool makeSymbolicLink(const std::filesystem::path& target, const std::filesystem::path& link);

// Makes a FIFO (a named pipe in the file system) at `path`; false when this platform cannot.
bool makeFifo(const std::filesystem::path& path);

// Frees whoever waits in an open of the FIFO at `path` (opens it for reading and writing at once,
// which never waits, and closes it), so that a test that failed by waiting can end.
void releaseFifo(const std::filesystem::path& path);

// True when the system itself reports `link` as a symbolic link (lstat; on Windows the reparse
// point attribute), asked without the code under test. Wine 8 shows a link to a file as that file.
bool systemShowsLink(const std::filesystem::path& link);

}  // namespace testsupport
