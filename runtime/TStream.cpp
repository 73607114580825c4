// The abstract byte stream's shared helpers.
#include "runtime/TStream.h"

#include "runtime/Exception.h"

namespace rt {

void TStream::SetSize(std::int64_t) { raiseWriteError(); }

std::int64_t TStream::Size() {
  const std::int64_t position = Seek(0, SeekOrigin::Current);
  const std::int64_t size = Seek(0, SeekOrigin::End);
  Seek(position, SeekOrigin::Beginning);
  return size;
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

}  // namespace rt
