// The file version on Windows: GetFileVersionInfoSizeW, GetFileVersionInfoW and VerQueryValueW
// under the root block "\", whose answer is checked before it is believed. The system's version
// parser reads only files whose version resource the shared reader of executables has checked,
// while the file is held against replacement.
#include "platform/VersionInfo.h"

#include <cstring>
#include <vector>

#include "platform/executable/ExecutableResources.h"
#include "platform/executable/HeldExecutable.h"
#include "platform/win32/RegularFile.h"
#include "platform/win32/Win32Text.h"

namespace platform {
namespace {

constexpr DWORD kFixedRecordSignature = 0xFEEF04BD;

// The most GetFileVersionInfoSizeW may answer for a resource the checks accepted. Its answer is
// larger than the resource itself: the system makes room beside the resource for a converted
// copy of its texts (an ANSI copy of a Unicode block, a Unicode copy of an ANSI one, which is up to
// twice as long) and a small header. Three times the largest accepted resource covers the
// resource and either copy; anything above is an answer that does not come from the resource we
// checked, and nothing is allocated for it.
constexpr DWORD kLargestVersionInfo = 3 * executable::kMaxVersionBytes;

}  // namespace

std::optional<FileVersionWords> readFileVersionWords(const std::u16string& path) {
  // The file kept by the icon read of this path (or this path opened afresh, when it is a regular
  // file) stays held until the system has read the version: it reads the same file the icon came
  // from, and the one checked here.
  const auto file = executable::openForVersionRead(path, win32::isRegularFile);
  if (!file || !executable::checkedFileVersion(*file)) return std::nullopt;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(win32::wide(path), &ignored);
  if (size == 0 || size > kLargestVersionInfo) return std::nullopt;
  std::vector<std::uint8_t> block(size);
  if (!GetFileVersionInfoW(win32::wide(path), 0, size, block.data())) return std::nullopt;

  void* record = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\", &record, &length) || record == nullptr) return std::nullopt;
  // The record must be whole and inside the block the system filled.
  const auto* start = static_cast<const std::uint8_t*>(record);
  if (length < sizeof(VS_FIXEDFILEINFO) || start < block.data() ||
      start + sizeof(VS_FIXEDFILEINFO) > block.data() + block.size())
    return std::nullopt;
  VS_FIXEDFILEINFO fixed{};
  std::memcpy(&fixed, start, sizeof fixed);
  if (fixed.dwSignature != kFixedRecordSignature) return std::nullopt;
  return FileVersionWords{fixed.dwFileVersionMS, fixed.dwFileVersionLS};
}

}  // namespace platform
