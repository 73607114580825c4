// The file version on Windows: GetFileVersionInfoSizeW, GetFileVersionInfoW and VerQueryValueW
// under the root block "\", whose answer is checked before it is believed.
#include "platform/VersionInfo.h"

#include <cstring>
#include <vector>

#include "platform/win32/RegularFile.h"
#include "platform/win32/Win32Text.h"

namespace platform {
namespace {

constexpr DWORD kFixedRecordSignature = 0xFEEF04BD;

}  // namespace

std::optional<FileVersionWords> readFileVersionWords(const std::u16string& path) {
  if (!win32::isRegularFile(path)) return std::nullopt;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(win32::wide(path), &ignored);
  if (size == 0) return std::nullopt;
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
