// The Linux stand-in for the Windows icon and bitmap calls: objects live in a handle table in
// memory, described and read back with the contracts of GetIconInfo, GetObjectW and GetDIBits.
//
// Every bitmap is kept as rows bottom-up, each padded to 4 bytes, in its own format: indices into
// its colour table at 8 bits or less, masked pixels at 16 and 32 bits, blue-green-red at 24.
// Reading back in the bitmap's own format copies the rows unchanged (so 32-bit alpha survives);
// any other format goes through colours.
#include "platform/Bitmaps.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "platform/posix/BitmapStandIn.h"

namespace platform::posix {
namespace {

constexpr int kMaxSide = 4096;

struct Bitmap {
  bool deviceIndependent = false;
  bool undescribable = false;  // handed out by a faulty icon: description and reads fail
  int width = 0;
  int height = 0;
  int bits = 0;
  BitmapInfoHeader header;               // a section's own header
  std::vector<std::uint32_t> table;      // 8 bits or less: 2^bits entries, 0x00RRGGBB
  std::array<std::uint32_t, 3> masks{};  // 16 and 32 bits: red, green, blue
  bool bitFields = false;                // the masks are the bitmap's own, not the plain ones
  std::vector<std::uint8_t> rows;        // bottom-up, each padded to 4 bytes
};

struct Icon {
  std::shared_ptr<const Bitmap> colour;  // none: monochrome
  std::shared_ptr<const Bitmap> mask;
  IconFault fault = IconFault::None;
};

// The handle table. Handles are numbers from one counter, never reused, so a handle of one kind
// is never found among another kind and a released handle stays dead.
class Registry {
 public:
  static Registry& instance() {
    static Registry registry;
    return registry;
  }

  std::uintptr_t add(std::shared_ptr<const Bitmap> bitmap) {
    std::lock_guard lock(mutex_);
    const std::uintptr_t id = next_++;
    bitmaps_.emplace(id, std::move(bitmap));
    return id;
  }
  std::uintptr_t add(Icon icon) {
    std::lock_guard lock(mutex_);
    const std::uintptr_t id = next_++;
    icons_.emplace(id, std::move(icon));
    return id;
  }
  std::uintptr_t addContext() {
    std::lock_guard lock(mutex_);
    const std::uintptr_t id = next_++;
    contexts_.insert(id);
    return id;
  }

  std::shared_ptr<const Bitmap> bitmap(std::uintptr_t id) {
    std::lock_guard lock(mutex_);
    const auto found = bitmaps_.find(id);
    return found == bitmaps_.end() ? nullptr : found->second;
  }
  bool icon(std::uintptr_t id, Icon& out) {
    std::lock_guard lock(mutex_);
    const auto found = icons_.find(id);
    if (found == icons_.end()) return false;
    out = found->second;
    return true;
  }
  bool hasContext(std::uintptr_t id) {
    std::lock_guard lock(mutex_);
    return contexts_.count(id) != 0;
  }

  bool removeBitmap(std::uintptr_t id) {
    std::lock_guard lock(mutex_);
    return bitmaps_.erase(id) != 0;
  }
  bool removeIcon(std::uintptr_t id) {
    std::lock_guard lock(mutex_);
    return icons_.erase(id) != 0;
  }
  bool removeContext(std::uintptr_t id) {
    std::lock_guard lock(mutex_);
    return contexts_.erase(id) != 0;
  }

  std::size_t bitmapCount() {
    std::lock_guard lock(mutex_);
    return bitmaps_.size();
  }
  std::size_t iconCount() {
    std::lock_guard lock(mutex_);
    return icons_.size();
  }
  std::size_t contextCount() {
    std::lock_guard lock(mutex_);
    return contexts_.size();
  }

 private:
  std::mutex mutex_;
  std::uintptr_t next_ = 0x1000;
  std::unordered_map<std::uintptr_t, std::shared_ptr<const Bitmap>> bitmaps_;
  std::unordered_map<std::uintptr_t, Icon> icons_;
  std::unordered_set<std::uintptr_t> contexts_;
};

template <typename Handle>
std::uintptr_t idOf(Handle handle) {
  return reinterpret_cast<std::uintptr_t>(handle);
}
template <typename Handle>
Handle handleOf(std::uintptr_t id) {
  return reinterpret_cast<Handle>(id);
}

bool validDepth(int bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32; }

std::size_t rowBytes(int width, int bits) {
  return ((static_cast<std::size_t>(width) * static_cast<std::size_t>(bits) + 31) & ~std::size_t{31}) / 8;
}

// The masks a 16- or 32-bit pixel has without bit-fields: 5-5-5 and 8-8-8.
std::array<std::uint32_t, 3> plainMasks(int bits) {
  if (bits == 16) return {0x7C00, 0x03E0, 0x001F};
  return {0xFF0000, 0x00FF00, 0x0000FF};
}

// The masks of the screen's own 16-bit format, also used when bit-fields are asked of a bitmap
// that has none of its own.
std::array<std::uint32_t, 3> screenMasks(int bits) {
  if (bits == 16) return {0xF800, 0x07E0, 0x001F};
  return {0xFF0000, 0x00FF00, 0x0000FF};
}

struct Colour {
  std::uint8_t b = 0, g = 0, r = 0, a = 0;
};

std::uint32_t readPixelBits(const std::uint8_t* row, int x, int bits) {
  switch (bits) {
    case 1: return (row[x / 8] >> (7 - x % 8)) & 1u;
    case 4: return (row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0xFu;
    case 8: return row[x];
    case 16: return row[2 * x] | (std::uint32_t{row[2 * x + 1]} << 8);
    case 24: return row[3 * x] | (std::uint32_t{row[3 * x + 1]} << 8) | (std::uint32_t{row[3 * x + 2]} << 16);
    default:
      return row[4 * x] | (std::uint32_t{row[4 * x + 1]} << 8) | (std::uint32_t{row[4 * x + 2]} << 16) |
             (std::uint32_t{row[4 * x + 3]} << 24);
  }
}

void writePixelBits(std::uint8_t* row, int x, int bits, std::uint32_t value) {
  switch (bits) {
    case 1: {
      const std::uint8_t bit = static_cast<std::uint8_t>(0x80 >> (x % 8));
      row[x / 8] = static_cast<std::uint8_t>(value ? row[x / 8] | bit : row[x / 8] & ~bit);
      return;
    }
    case 4: {
      const int shift = x % 2 == 0 ? 4 : 0;
      row[x / 2] = static_cast<std::uint8_t>((row[x / 2] & ~(0xF << shift)) | ((value & 0xF) << shift));
      return;
    }
    case 8: row[x] = static_cast<std::uint8_t>(value); return;
    case 16:
      row[2 * x] = static_cast<std::uint8_t>(value);
      row[2 * x + 1] = static_cast<std::uint8_t>(value >> 8);
      return;
    case 24:
      for (int i = 0; i < 3; ++i) row[3 * x + i] = static_cast<std::uint8_t>(value >> (8 * i));
      return;
    default:
      for (int i = 0; i < 4; ++i) row[4 * x + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

// One colour channel out of a masked pixel, scaled to 8 bits.
std::uint8_t channel(std::uint32_t pixel, std::uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask);
  const std::uint32_t top = mask >> shift;
  const std::uint32_t value = (pixel & mask) >> shift;
  return static_cast<std::uint8_t>((value * 255 + top / 2) / top);
}

std::uint32_t packChannel(std::uint8_t value, std::uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask);
  const std::uint32_t top = mask >> shift;
  return ((value * top + 127) / 255) << shift;
}

Colour tableColour(std::uint32_t entry) {
  return {static_cast<std::uint8_t>(entry), static_cast<std::uint8_t>(entry >> 8), static_cast<std::uint8_t>(entry >> 16),
          0};
}

Colour colourAt(const Bitmap& bitmap, const std::uint8_t* row, int x) {
  const std::uint32_t pixel = readPixelBits(row, x, bitmap.bits);
  if (bitmap.bits <= 8) return pixel < bitmap.table.size() ? tableColour(bitmap.table[pixel]) : Colour{};
  if (bitmap.bits == 24) return tableColour(pixel);
  Colour colour{channel(pixel, bitmap.masks[2]), channel(pixel, bitmap.masks[1]), channel(pixel, bitmap.masks[0]), 0};
  if (bitmap.bits == 32 && !bitmap.bitFields) colour.a = static_cast<std::uint8_t>(pixel >> 24);
  return colour;
}

std::uint32_t nearestEntry(const std::vector<std::uint32_t>& table, Colour colour) {
  std::uint32_t best = 0;
  long bestDistance = std::numeric_limits<long>::max();
  for (std::uint32_t i = 0; i < table.size(); ++i) {
    const Colour entry = tableColour(table[i]);
    const long db = long{entry.b} - colour.b, dg = long{entry.g} - colour.g, dr = long{entry.r} - colour.r;
    const long distance = db * db + dg * dg + dr * dr;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i;
    }
  }
  return best;
}

// The format getDIBits was asked for.
struct Format {
  int bits = 0;
  bool bitFields = false;
};

bool sameFormat(const Bitmap& bitmap, Format format) {
  if (bitmap.bits != format.bits) return false;
  if (format.bits <= 8 || format.bits == 24) return true;
  if (format.bitFields) return true;  // bit-fields read back with the bitmap's own masks
  return bitmap.masks == plainMasks(format.bits) && (format.bits == 16 || !bitmap.bitFields);
}

// The table or masks that go with rows read back in `format`.
struct Layout {
  std::vector<std::uint32_t> table;
  std::array<std::uint32_t, 3> masks{};
  bool copy = false;
};

Layout layoutFor(const Bitmap& bitmap, Format format) {
  Layout layout;
  layout.copy = sameFormat(bitmap, format);
  if (format.bits <= 8) {
    layout.table = layout.copy ? bitmap.table : devicePalette(format.bits);
    return layout;
  }
  if (format.bits == 24) return layout;
  if (!format.bitFields) layout.masks = plainMasks(format.bits);
  else layout.masks = layout.copy ? bitmap.masks : screenMasks(format.bits);
  return layout;
}

void convertRow(const Bitmap& bitmap, const std::uint8_t* source, std::uint8_t* target, Format format,
                const Layout& layout) {
  for (int x = 0; x < bitmap.width; ++x) {
    const Colour colour = colourAt(bitmap, source, x);
    std::uint32_t value = 0;
    if (format.bits <= 8) {
      value = nearestEntry(layout.table, colour);
    } else if (format.bits == 24) {
      value = colour.b | (std::uint32_t{colour.g} << 8) | (std::uint32_t{colour.r} << 16);
    } else {
      value = packChannel(colour.r, layout.masks[0]) | packChannel(colour.g, layout.masks[1]) |
              packChannel(colour.b, layout.masks[2]);
      if (format.bits == 32 && !format.bitFields) value |= std::uint32_t{colour.a} << 24;
    }
    writePixelBits(target, x, format.bits, value);
  }
}

std::shared_ptr<const Bitmap> bitmapOf(BitmapHandle handle) {
  return handle == nullptr ? nullptr : Registry::instance().bitmap(idOf(handle));
}

BitmapHandle registerBitmap(std::shared_ptr<const Bitmap> bitmap) {
  return handleOf<BitmapHandle>(Registry::instance().add(std::move(bitmap)));
}

}  // namespace

// ---- Making objects ----------------------------------------------------------------------------

std::vector<std::uint32_t> devicePalette(int bitsPerPixel) {
  static const std::array<std::uint32_t, 16> standard = {
      0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
      0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  if (bitsPerPixel == 1) return {0x000000, 0xFFFFFF};
  if (bitsPerPixel == 4) return {standard.begin(), standard.end()};
  if (bitsPerPixel != 8) return {};
  std::vector<std::uint32_t> table(standard.begin(), standard.end());
  for (std::uint32_t r = 0; r < 6; ++r)
    for (std::uint32_t g = 0; g < 6; ++g)
      for (std::uint32_t b = 0; b < 6; ++b) table.push_back((r * 51) << 16 | (g * 51) << 8 | b * 51);
  for (std::uint32_t i = 0; i < 24; ++i) {
    const std::uint32_t grey = 8 + i * 10;
    table.push_back(grey << 16 | grey << 8 | grey);
  }
  return table;
}

BitmapHandle createDeviceBitmap(int width, int height, int bitsPerPixel, std::span<const std::uint8_t> rows) {
  if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide || !validDepth(bitsPerPixel)) return nullptr;
  const std::size_t stride = rowBytes(width, bitsPerPixel);
  if (rows.size() < stride * static_cast<std::size_t>(height)) return nullptr;
  auto bitmap = std::make_shared<Bitmap>();
  bitmap->width = width;
  bitmap->height = height;
  bitmap->bits = bitsPerPixel;
  bitmap->table = devicePalette(bitsPerPixel);
  bitmap->masks = screenMasks(bitsPerPixel);
  bitmap->bitFields = bitsPerPixel == 16;
  bitmap->rows.resize(stride * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y)
    std::memcpy(bitmap->rows.data() + stride * static_cast<std::size_t>(height - 1 - y),
                rows.data() + stride * static_cast<std::size_t>(y), stride);
  return registerBitmap(std::move(bitmap));
}

BitmapHandle createDibSection(const BitmapInfoHeader& header, std::span<const std::uint32_t> colourTable,
                              std::span<const std::uint32_t> masks, std::span<const std::uint8_t> bits) {
  const int bitCount = header.bitCount;
  if (header.height == std::numeric_limits<std::int32_t>::min()) return nullptr;
  const int height = header.height < 0 ? -header.height : header.height;
  if (header.size < 40 || header.planes != 1 || !validDepth(bitCount)) return nullptr;
  if (header.width < 1 || header.width > kMaxSide || height < 1 || height > kMaxSide) return nullptr;
  const bool bitFields = header.compression == kCompressionBitFields;
  if (header.compression != kCompressionRgb && !(bitFields && (bitCount == 16 || bitCount == 32))) return nullptr;
  const std::uint32_t fullTable = bitCount <= 8 ? 1u << bitCount : 0;
  if (header.clrUsed > fullTable && bitCount <= 8) return nullptr;
  const std::size_t tableEntries = bitCount <= 8 ? (header.clrUsed != 0 ? header.clrUsed : fullTable) : 0;
  if (colourTable.size() != tableEntries) return nullptr;
  if (masks.size() != (bitFields ? 3u : 0u)) return nullptr;
  if (bitFields && (masks[0] == 0 || masks[1] == 0 || masks[2] == 0)) return nullptr;
  const std::size_t stride = rowBytes(header.width, bitCount);
  if (bits.size() < stride * static_cast<std::size_t>(height)) return nullptr;

  auto bitmap = std::make_shared<Bitmap>();
  bitmap->deviceIndependent = true;
  bitmap->width = header.width;
  bitmap->height = height;
  bitmap->bits = bitCount;
  bitmap->header = header;
  bitmap->header.size = 40;
  bitmap->header.sizeImage = static_cast<std::uint32_t>(stride * static_cast<std::size_t>(height));
  bitmap->table.assign(colourTable.begin(), colourTable.end());
  if (bitCount <= 8) bitmap->table.resize(fullTable, 0);
  bitmap->bitFields = bitFields;
  if (bitFields) bitmap->masks = {masks[0], masks[1], masks[2]};
  else if (bitCount > 8) bitmap->masks = plainMasks(bitCount);
  bitmap->rows.resize(stride * static_cast<std::size_t>(height));
  const bool topDown = header.height < 0;
  for (int y = 0; y < height; ++y) {
    const int target = topDown ? height - 1 - y : y;
    std::memcpy(bitmap->rows.data() + stride * static_cast<std::size_t>(target),
                bits.data() + stride * static_cast<std::size_t>(y), stride);
  }
  return registerBitmap(std::move(bitmap));
}

IconHandle createIcon(BitmapHandle colour, BitmapHandle mask, IconFault fault) {
  Icon icon;
  icon.mask = bitmapOf(mask);
  if (!icon.mask) return nullptr;
  if (colour != nullptr) {
    icon.colour = bitmapOf(colour);
    if (!icon.colour) return nullptr;
  }
  icon.fault = fault;
  return handleOf<IconHandle>(Registry::instance().add(std::move(icon)));
}

std::size_t liveBitmapCount() { return Registry::instance().bitmapCount(); }
std::size_t liveIconCount() { return Registry::instance().iconCount(); }
std::size_t liveDeviceContextCount() { return Registry::instance().contextCount(); }

}  // namespace platform::posix

namespace platform {

using posix::Bitmap;
using posix::IconFault;

namespace {

// A bitmap handed out by getIconInfo: a new handle over the same pixels, or over a copy that
// refuses description when the icon is set up to fail that way.
BitmapHandle handOut(const std::shared_ptr<const Bitmap>& bitmap, bool undescribable) {
  if (!undescribable) return posix::registerBitmap(bitmap);
  auto broken = std::make_shared<Bitmap>(*bitmap);
  broken->undescribable = true;
  return posix::registerBitmap(std::move(broken));
}

}  // namespace

bool getIconInfo(IconHandle icon, IconInfo& info) {
  posix::Icon found;
  if (icon == nullptr || !posix::Registry::instance().icon(posix::idOf(icon), found)) return false;
  if (found.fault == IconFault::NoIconInfo) return false;
  info = IconInfo{};
  info.isIcon = 1;
  info.mask = handOut(found.mask, found.fault == IconFault::UndescribableMask);
  if (found.colour) info.colour = handOut(found.colour, found.fault == IconFault::UndescribableColour);
  return true;
}

int getObject(BitmapHandle handle, int bufferSize, void* buffer) {
  const auto bitmap = posix::bitmapOf(handle);
  if (!bitmap || bitmap->undescribable || buffer == nullptr) return 0;
  if (bufferSize < static_cast<int>(sizeof(BitmapDescription))) return 0;
  BitmapDescription description;
  description.type = 0;
  description.width = bitmap->width;
  description.height = bitmap->height;
  // Device-dependent rows are padded to 16 bits, section rows to 32 bits.
  description.widthBytes = bitmap->deviceIndependent
                               ? static_cast<std::int32_t>(posix::rowBytes(bitmap->width, bitmap->bits))
                               : (bitmap->width * bitmap->bits + 15) / 16 * 2;
  description.planes = 1;
  description.bitsPixel = static_cast<std::uint16_t>(bitmap->bits);
  if (bitmap->deviceIndependent) description.bits = const_cast<std::uint8_t*>(bitmap->rows.data());
  if (!bitmap->deviceIndependent || bufferSize < static_cast<int>(sizeof(DibSectionDescription))) {
    std::memcpy(buffer, &description, sizeof description);
    return sizeof description;
  }
  DibSectionDescription section;
  section.bitmap = description;
  section.header = bitmap->header;
  if (bitmap->bitFields) std::copy(bitmap->masks.begin(), bitmap->masks.end(), section.bitFields);
  std::memcpy(buffer, &section, sizeof section);
  return sizeof section;
}

DeviceContextHandle createCompatibleDC(DeviceContextHandle compatibleWith) {
  if (compatibleWith != nullptr && !posix::Registry::instance().hasContext(posix::idOf(compatibleWith))) return nullptr;
  return posix::handleOf<DeviceContextHandle>(posix::Registry::instance().addContext());
}

bool deleteDC(DeviceContextHandle context) {
  return context != nullptr && posix::Registry::instance().removeContext(posix::idOf(context));
}

int getDIBits(DeviceContextHandle context, BitmapHandle handle, std::uint32_t startScan, std::uint32_t scanLines,
              void* bits, void* bitmapInfo, std::uint32_t usage) {
  if (context == nullptr || !posix::Registry::instance().hasContext(posix::idOf(context))) return 0;
  const auto bitmap = posix::bitmapOf(handle);
  if (!bitmap || bitmap->undescribable || bitmapInfo == nullptr || usage != kRgbColours) return 0;

  BitmapInfoHeader header;
  std::memcpy(&header, bitmapInfo, sizeof header);
  const posix::Format format{header.bitCount, header.compression == kCompressionBitFields};
  if (header.size < 40 || !posix::validDepth(format.bits)) return 0;
  if (header.compression != kCompressionRgb && !(format.bitFields && (format.bits == 16 || format.bits == 32)))
    return 0;
  if (header.width != bitmap->width || header.height == 0 || header.height == std::numeric_limits<std::int32_t>::min())
    return 0;
  const std::uint32_t wantedRows = static_cast<std::uint32_t>(header.height < 0 ? -header.height : header.height);
  const auto height = static_cast<std::uint32_t>(bitmap->height);
  if (startScan >= height) return 0;
  const std::uint32_t lines = std::min({scanLines, wantedRows, height - startScan});

  const posix::Layout layout = posix::layoutFor(*bitmap, format);
  auto* after = static_cast<std::uint8_t*>(bitmapInfo) + header.size;
  if (format.bits <= 8) {
    const std::size_t full = std::size_t{1} << format.bits;
    const std::size_t entries = header.clrUsed != 0 ? std::min<std::size_t>(header.clrUsed, full) : full;
    for (std::size_t i = 0; i < entries; ++i) {
      const std::uint32_t entry = i < layout.table.size() ? layout.table[i] & 0xFFFFFFu : 0;
      std::memcpy(after + 4 * i, &entry, 4);
    }
  } else if (format.bitFields) {
    std::memcpy(after, layout.masks.data(), 12);
  }
  const std::size_t stride = posix::rowBytes(bitmap->width, format.bits);
  if (header.sizeImage == 0) {
    header.sizeImage = static_cast<std::uint32_t>(stride * wantedRows);
    std::memcpy(bitmapInfo, &header, sizeof header);
  }
  if (bits == nullptr) return static_cast<int>(height);
  if (lines == 0) return 0;

  const std::size_t sourceStride = posix::rowBytes(bitmap->width, bitmap->bits);
  auto* out = static_cast<std::uint8_t*>(bits);
  for (std::uint32_t k = 0; k < lines; ++k) {
    const std::uint32_t sourceRow = header.height < 0 ? startScan + lines - 1 - k : startScan + k;
    const std::uint8_t* source = bitmap->rows.data() + sourceStride * sourceRow;
    std::uint8_t* target = out + stride * k;
    if (layout.copy) {
      std::memcpy(target, source, stride);
      continue;
    }
    std::memset(target, 0, stride);
    posix::convertRow(*bitmap, source, target, format, layout);
  }
  return static_cast<int>(lines);
}

bool deleteObject(BitmapHandle bitmap) {
  return bitmap != nullptr && posix::Registry::instance().removeBitmap(posix::idOf(bitmap));
}

bool destroyIcon(IconHandle icon) {
  return icon != nullptr && posix::Registry::instance().removeIcon(posix::idOf(icon));
}

}  // namespace platform
