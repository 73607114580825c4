// A string stream that starts out holding given bytes, positioned at 0: a reply, a body or a
// document as a test (or a fuzz target, or a bench) hands it to the code it drives.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/TStringStream.h"

namespace testsupport {

class BytesStream : public rt::TStringStream {
 public:
  explicit BytesStream(std::string_view bytes) {
    WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    SetPosition(0);
  }
};

}  // namespace testsupport
