// The file version of an executable as its four numbers, for tests that compare versions.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "platform/Executable.h"

namespace testsupport {

using VersionNumbers = std::array<std::uint16_t, 4>;

// Major, minor, release and build of `executable`'s fixed version record, or nothing.
inline std::optional<VersionNumbers> versionNumbers(const platform::Executable& executable) {
  const auto words = executable.fileVersionWords();
  if (!words) return std::nullopt;
  const auto half = [](std::uint32_t word, int shift) { return static_cast<std::uint16_t>(word >> shift); };
  return VersionNumbers{half(words->mostSignificant, 16), half(words->mostSignificant, 0),
                        half(words->leastSignificant, 16), half(words->leastSignificant, 0)};
}

}  // namespace testsupport
