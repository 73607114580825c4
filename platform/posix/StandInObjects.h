// The objects behind the Linux bitmap stand-in's handles (see HandleRegistry.h), for the stand-in
// itself and for tests that need an object the making calls of BitmapStandIn.h would refuse.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Bitmaps.h"

namespace platform::posix {

// A bitmap, kept as rows bottom-up, each padded to 4 bytes, in its own format: indices into its
// colour table at 8 bits or less, masked pixels at 16 and 32 bits, blue-green-red at 24.
struct Bitmap {
  bool deviceIndependent = false;
  int width = 0;
  int height = 0;
  int bits = 0;
  BitmapInfoHeader header;               // a section's own header, handed out by getObject as it is
  std::vector<std::uint32_t> table;      // 8 bits or less: 2^bits entries, 0x00RRGGBB
  std::array<std::uint32_t, 3> masks{};  // 16 and 32 bits: red, green, blue
  bool bitFields = false;                // the masks are the bitmap's own, not the plain ones
  std::vector<std::uint8_t> rows;        // bottom-up, each padded to 4 bytes
};

// An icon: its colour bitmap (none for a monochrome icon) and its mask. getIconInfo asks it for
// the two bitmaps through handOut; a test can register an icon of its own kind that fails there
// or hands out bitmaps the other calls refuse, to drive its callers' failure paths.
class Icon {
 public:
  Icon(std::shared_ptr<const Bitmap> colour, std::shared_ptr<const Bitmap> mask)
      : colour_(std::move(colour)), mask_(std::move(mask)) {}
  virtual ~Icon() = default;

  // Fills `info`'s mask and colour with new handles over the icon's bitmaps (colour none for a
  // monochrome icon), which the caller deletes. False when the icon cannot give them.
  virtual bool handOut(IconInfo& info) const;

 protected:
  std::shared_ptr<const Bitmap> colour_;
  std::shared_ptr<const Bitmap> mask_;
};

}  // namespace platform::posix
