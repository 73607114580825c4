// Bounded reads from a file or from memory for the reader of executables.
#include "platform/executable/ByteSource.h"

#include <algorithm>

namespace platform::executable {

std::optional<std::vector<std::uint8_t>> ByteSource::bytesAt(std::uint64_t offset, std::uint64_t count) const {
  if (!contains(offset, count)) return std::nullopt;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
  if (!readAt(offset, bytes)) return std::nullopt;
  return bytes;
}

FileByteSource::FileByteSource(NativeFile file) : file_(std::move(file)) {
  if (!file_.isOpen()) return;
  const std::int64_t length = file_.size();
  size_ = length > 0 ? static_cast<std::uint64_t>(length) : 0;
}

bool FileByteSource::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (!contains(offset, out.size())) return false;
  std::size_t done = 0;
  while (done < out.size()) {
    const std::int64_t got = file_.readAt(static_cast<std::int64_t>(offset + done), out.data() + done,
                                          static_cast<std::int64_t>(out.size() - done));
    if (got <= 0) return false;  // an error, or the file shrank under us
    done += static_cast<std::size_t>(got);
  }
  return true;
}

bool MemoryByteSource::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (!contains(offset, out.size())) return false;
  std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
  return true;
}

}  // namespace platform::executable
