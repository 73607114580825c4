// The executable kept between a row's icon read and its version read.
#include "platform/executable/HeldExecutable.h"

#include <mutex>
#include <utility>

#include "platform/NativeFile.h"

namespace platform::executable {
namespace {

struct Kept {
  std::mutex mutex;
  std::u16string path;
  std::unique_ptr<FileByteSource> file;
};

Kept& kept() {
  static Kept instance;
  return instance;
}

// Takes the kept file out, whatever path it was kept for.
std::pair<std::u16string, std::unique_ptr<FileByteSource>> takeKept() {
  Kept& k = kept();
  const std::lock_guard lock(k.mutex);
  return {std::exchange(k.path, {}), std::move(k.file)};
}

std::unique_ptr<FileByteSource> openFile(const std::u16string& path, PathGate gate) {
  if (gate != nullptr && !gate(path)) return nullptr;
  FileError error;
  NativeFile file = NativeFile::openReadDenyWrite(path, error);
  if (!file.isOpen()) return nullptr;
  return std::make_unique<FileByteSource>(std::move(file));
}

}  // namespace

std::unique_ptr<FileByteSource> openForIconRead(const std::u16string& path, PathGate gate) {
  takeKept();  // released here, before the next file is opened
  return openFile(path, gate);
}

void keepForVersionRead(const std::u16string& path, std::unique_ptr<FileByteSource> file) {
  // The one kept before (none, in the pass's order) is released once the lock is let go.
  std::unique_ptr<FileByteSource> previous;
  Kept& k = kept();
  const std::lock_guard lock(k.mutex);
  previous = std::exchange(k.file, std::move(file));
  k.path = path;
}

std::unique_ptr<FileByteSource> openForVersionRead(const std::u16string& path, PathGate gate) {
  auto [keptPath, file] = takeKept();
  if (file && keptPath == path) return std::move(file);
  file.reset();  // another path's file is not read, and not kept any longer either
  return openFile(path, gate);
}

}  // namespace platform::executable
