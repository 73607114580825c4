// The base of the client's own streams: read, write, seek and resize routed to four
// overridable operations.
#pragma once

#include <cstdint>

#include "runtime/TStream.h"

namespace service {

// A stream whose read, write, seek and resize go to four overridable operations.
class TNetBaseStream : public rt::TStream {
 public:
  std::int64_t Read(void* buffer, std::int64_t count) final { return NetRead(static_cast<std::uint8_t*>(buffer), count); }
  std::int64_t Write(const void* buffer, std::int64_t count) final {
    return NetWrite(static_cast<const std::uint8_t*>(buffer), count);
  }
  std::int64_t Seek(std::int64_t offset, rt::SeekOrigin origin) final { return NetSeek(offset, origin); }
  void SetSize(std::int64_t size) final { NetSetSize(size); }

 protected:
  virtual std::int64_t NetRead(std::uint8_t* buffer, std::int64_t count) = 0;
  virtual std::int64_t NetWrite(const std::uint8_t* buffer, std::int64_t count) = 0;
  virtual std::int64_t NetSeek(std::int64_t offset, rt::SeekOrigin origin) = 0;
  virtual void NetSetSize(std::int64_t size) = 0;
};

}  // namespace service
