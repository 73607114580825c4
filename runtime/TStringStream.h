// A memory stream whose bytes are also offered as a byte string and as text. The response
// buffer of each service call is one of these.
#pragma once

#include <string>

#include "runtime/TMemoryStream.h"

namespace rt {

class TStringStream : public TMemoryStream {
 public:
  // The stored bytes, as they are.
  std::string DataString() const;
  // The stored bytes decoded with the system's ANSI code page.
  std::u16string DataText() const;
};

}  // namespace rt
