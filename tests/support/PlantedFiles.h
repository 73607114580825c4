// What a hostile user plants in the program's folders, made from a test: symbolic links and FIFOs.
// Under Wine, which makes neither itself, they are made on the Unix side with Unix's own programs.
#pragma once

#include <filesystem>
#include <utility>

namespace testsupport {

// Makes a symbolic link at `link` that leads to `target` (a file or a folder, which need not
// exist). False when this platform cannot make one at all.
bool makeSymbolicLink(const std::filesystem::path& target, const std::filesystem::path& link);

// Makes a FIFO (a named pipe in the file system) at `path`; false when this platform cannot.
bool makeFifo(const std::filesystem::path& path);

// Frees whoever waits in an open of the FIFO at `path` (opens it for reading and writing at once,
// which never waits, and closes it), so that a test that failed by waiting can end.
void releaseFifo(const std::filesystem::path& path);

// Removes what makeSymbolicLink or makeFifo made (the link, not its target) without opening it.
void removePlanted(const std::filesystem::path& path);

// Removes a planted entry when it goes, so that it is gone before the test's folder is: under
// Wine a folder's removal deletes what a planted link leads to and then never ends on the link.
class RemovedAtEnd {
 public:
  explicit RemovedAtEnd(std::filesystem::path path) : path_(std::move(path)) {}
  ~RemovedAtEnd() { removePlanted(path_); }
  RemovedAtEnd(const RemovedAtEnd&) = delete;
  RemovedAtEnd& operator=(const RemovedAtEnd&) = delete;

 private:
  std::filesystem::path path_;
};

// True when the system itself reports `link` as a symbolic link (lstat; on Windows the reparse
// point attribute), asked without the code under test. Wine 8 shows a link to a file as that file.
bool systemShowsLink(const std::filesystem::path& link);

}  // namespace testsupport
