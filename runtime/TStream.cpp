// The abstract byte stream's shared helpers.
#include "runtime/TStream.h"

#include <algorithm>
#include <vector>

#include "runtime/Exception.h"

namespace rt {

void TStream::SetSize(std::int64_t) { raiseWriteError(); }

std::int64_t TStream::Size() {
  const std::int64_t position = Seek(0, SeekOrigin::Current);
  const std::int64_t size = Seek(0, SeekOrigin::End);
  Seek(position, SeekOrigin::Beginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t got = Read(bytes + done, count - done);
    if (got <= 0) throw EReadError(u"Stream read error");
    done += got;
  }
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t put = Write(bytes + done, count - done);
    if (put <= 0) raiseWriteError();
    done += put;
  }
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  constexpr std::int64_t kBlock = 64 * 1024;
  std::vector<unsigned char> block(static_cast<size_t>(std::min(count, kBlock)));
  std::int64_t left = count;
  while (left > 0) {
    const std::int64_t n = std::min(left, kBlock);
    source.ReadBuffer(block.data(), n);
    WriteBuffer(block.data(), n);
    left -= n;
  }
  return count;
}

}  // namespace rt
