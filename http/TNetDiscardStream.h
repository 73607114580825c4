// A stream that swallows whatever is written to it: the sink of a body that is read only to be
// dropped (DiscardBody).
#pragma once

#include "runtime/TStream.h"

namespace net {

class TNetDiscardStream : public rt::TStream {
 public:
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void*, std::int64_t count) override { return count > 0 ? count : 0; }
  std::int64_t Seek(std::int64_t, rt::SeekOrigin) override { return 0; }
  void SetSize(std::int64_t) override {}
  std::int64_t Size() override { return 0; }
};

}  // namespace net
