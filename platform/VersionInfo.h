// The fixed file information record of an executable's version resource (on Windows
// GetFileVersionInfoSizeW, GetFileVersionInfoW and VerQueryValueW under the root block "\"; on
// Linux our own reader of the PE version resource).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// The two file-version words of the record (VS_FIXEDFILEINFO dwFileVersionMS / LS): major in the
// high and minor in the low half of `mostSignificant`, release and build likewise in
// `leastSignificant`.
struct FileVersionWords {
  std::uint32_t mostSignificant = 0;
  std::uint32_t leastSignificant = 0;
};

// The file-version words of the executable at `path`, or nothing when the file is missing,
// unreadable or has no readable fixed record. String tables are never consulted. May raise only
// std::bad_alloc.
std::optional<FileVersionWords> readFileVersionWords(const std::u16string& path);

}  // namespace platform
