// The string stream.
#include "runtime/TStringStream.h"

#include "platform/TextCodePage.h"

namespace rt {

TStringStream::TStringStream(std::string_view bytes) {
  WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  SetPosition(0);
}

std::string TStringStream::DataString() const {
  if (Memory() == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(Memory()), static_cast<size_t>(DataSize()));
}

std::u16string TStringStream::DataText() const { return platform::fromAnsi(DataString()); }

}  // namespace rt
