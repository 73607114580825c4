// The file stream.
#include "runtime/TFileStream.h"

#include "platform/FileSystem.h"
#include "runtime/Exception.h"

namespace rt {

TFileStream::TFileStream(const std::u16string& path, FileMode mode) {
  platform::FileError error;
  if (mode == FileMode::CreateExclusive) {
    file_ = platform::NativeFile::createAlways(path, error);
    if (!file_.isOpen())
      throw EFCreateError(u"Cannot create file \"" + platform::absolutePath(path) + u"\". " + error.text);
    return;
  }
  const auto links = mode == FileMode::OpenOwnReadDenyWrite ? platform::LinkPolicy::Refuse : platform::LinkPolicy::Follow;
  file_ = platform::NativeFile::openReadDenyWrite(path, error, links);
  if (!file_.isOpen()) throw EFOpenError(u"Cannot open file \"" + platform::absolutePath(path) + u"\". " + error.text);
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  const std::int64_t got = file_.read(buffer, count);
  return got < 0 ? 0 : got;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  const std::int64_t put = file_.write(buffer, count);
  return put < 0 ? 0 : put;
}

std::int64_t TFileStream::Seek(std::int64_t offset, SeekOrigin origin) {
  return file_.seek(offset, static_cast<int>(origin));
}

std::int64_t TFileStream::Size() {
  const std::int64_t size = file_.size();
  return size >= 0 ? size : TStream::Size();
}

void TFileStream::SetSize(std::int64_t size) {
  if (!file_.truncate(size)) raiseWriteError();
  if (Position() > size) Seek(size, SeekOrigin::Beginning);
}

}  // namespace rt
