// A row's executable on Windows: held against being written, deleted or renamed while the row's
// icon and version are read, and checked by the shared reader of executables before the system's
// icon and version parsers (PrivateExtractIconsW, GetFileVersionInfoW), which open the path again
// for reading, are let at it. So the system reads the very bytes checked, and both reads the same
// file.
#include "platform/Executable.h"

#include <cstring>
#include <vector>

#include "platform/executable/ByteSource.h"
#include "platform/executable/ExecutableResources.h"
#include "platform/win32/IconReadBack.h"
#include "platform/win32/RegularFile.h"

namespace platform {
namespace {

constexpr int kSide = 48;
constexpr DWORD kFixedRecordSignature = 0xFEEF04BD;

// The most GetFileVersionInfoSizeW may answer for a resource the checks accepted. Its answer is
// larger than the resource itself: the system makes room beside the resource for a converted
// copy of its texts (an ANSI copy of a Unicode block, a Unicode copy of an ANSI one, which is up to
// twice as long) and a small header. Three times the largest accepted resource covers the
// resource and either copy; anything above is an answer that does not come from the resource we
// checked, and nothing is allocated for it.
constexpr DWORD kLargestVersionInfo = 3 * executable::kMaxVersionBytes;

// An extracted icon, destroyed once its bitmaps have been read back.
struct ExtractedIcon {
  HICON handle = nullptr;
  ~ExtractedIcon() {
    if (handle) DestroyIcon(handle);
  }
};

}  // namespace

Executable::Executable(std::u16string path) : path_(std::move(path)) {
  // A path that is not a regular file is not opened at all, so nothing can block the open.
  if (!win32::isRegularFile(path_)) return;
  FileError error;
  NativeFile file = NativeFile::openReadDenyWrite(path_, error);
  if (file.isOpen()) file_ = std::make_unique<executable::FileByteSource>(std::move(file));
}

Executable::~Executable() = default;

std::optional<IconBitmaps> Executable::iconBitmaps48() const {
  if (!file_ || !executable::checkedIconImage(*file_)) return std::nullopt;
  ExtractedIcon icon;
  // Index 0 (the first icon group, the one checked), loaded with its transparency. Only the handle
  // slot is looked at: the returned count differs between system versions.
  PrivateExtractIconsW(win32::wide(path_), 0, kSide, kSide, &icon.handle, nullptr, 1, LR_LOADTRANSPARENT);
  if (icon.handle == nullptr) return std::nullopt;
  return win32::readIconBitmaps(icon.handle);
}

std::optional<FileVersionWords> Executable::fileVersionWords() const {
  if (!file_ || !executable::checkedFileVersion(*file_)) return std::nullopt;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(win32::wide(path_), &ignored);
  if (size == 0 || size > kLargestVersionInfo) return std::nullopt;
  std::vector<std::uint8_t> block(size);
  if (!GetFileVersionInfoW(win32::wide(path_), 0, size, block.data())) return std::nullopt;

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
