// A stream that passes everything on to another stream but refuses to take in more than a set
// number of bytes: the sink of a reply body when the client keeps only so much of a reply.
#pragma once

#include <cstdint>

#include "http/NetExceptions.h"
#include "runtime/TStream.h"

namespace net {

class TNetLimitedStream : public rt::TStream {
 public:
  // Writes go to `target` until `limit` bytes were written through this stream; the write that
  // would pass the limit raises ENetReplyTooLarge "Reply too large." and writes nothing.
  TNetLimitedStream(rt::TStream& target, std::int64_t limit) : target_(target), left_(limit) {}

  std::int64_t Read(void* buffer, std::int64_t count) override { return target_.Read(buffer, count); }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    if (count > left_) raiseReplyTooLarge();
    const std::int64_t written = target_.Write(buffer, count);
    if (written > 0) left_ -= written;
    return written;
  }
  std::int64_t Seek(std::int64_t offset, rt::SeekOrigin origin) override { return target_.Seek(offset, origin); }
  void SetSize(std::int64_t size) override { target_.SetSize(size); }
  std::int64_t Size() override { return target_.Size(); }

 private:
  rt::TStream& target_;
  std::int64_t left_;
};

}  // namespace net
