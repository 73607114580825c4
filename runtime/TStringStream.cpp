// The string stream.
#include "runtime/TStringStream.h"

#include "platform/TextCodePage.h"

namespace rt {

std::string TStringStream::DataString() const {
  if (Memory() == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(Memory()), static_cast<size_t>(DataSize()));
}

std::u16string TStringStream::DataText() const { return platform::fromAnsi(DataString()); }

}  // namespace rt
