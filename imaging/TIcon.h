// The icon object: holds one icon image (its bitmaps as plain values) and writes it as an ICO file.
//
// The upload pass uses it like this, once per row that produced an icon:
//   imaging::TIcon icon;                      // once per pass
//   icon.AssignImage(std::move(*bitmaps));    // from platform::Executable::iconBitmaps48
//   icon.SaveIconFile(programFolder + u"image/0.ico");
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/IconBitmaps.h"

namespace imaging {

// The counted image of an icon object: the bitmaps (none for an empty image), the cached ICO
// bytes and the size. The last reference to go frees them.
class TIconImage {
 public:
  TIconImage() = default;
  explicit TIconImage(platform::IconBitmaps bitmaps);
  TIconImage(const TIconImage&) = delete;
  TIconImage& operator=(const TIconImage&) = delete;

  const std::optional<platform::IconBitmaps>& Bitmaps() const { return bitmaps_; }
  // The complete ICO file bytes, built at the first save; none before.
  const std::vector<std::uint8_t>* MemoryImage() const { return memoryImage_ ? &*memoryImage_ : nullptr; }
  void SetMemoryImage(std::vector<std::uint8_t> image) { memoryImage_ = std::move(image); }
  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }

 private:
  std::optional<platform::IconBitmaps> bitmaps_;
  std::optional<std::vector<std::uint8_t>> memoryImage_;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
};

class TIcon {
 public:
  // A fresh object holds an empty image (no bitmaps, no bytes, size 0 x 0).
  TIcon();
  TIcon(const TIcon&) = delete;
  TIcon& operator=(const TIcon&) = delete;

  // Holds `bitmaps` in a new image and releases the previous image. The image size is the colour
  // header's width and height (the upper half of the mask for a monochrome icon); 0 x 0 when the
  // platform could not hand the bitmaps out.
  void AssignImage(platform::IconBitmaps bitmaps);

  // Writes the icon as a single-image ICO file at `path`, creating or replacing it. The bytes are
  // built (once per image, then cached) before the file is created, so a failed build leaves the
  // path untouched. Raises:
  //   EInvalidGraphic "Icon image is not valid" for an empty image, "Bitmap image is not valid"
  //     when the bitmaps cannot be written (see BuildIconImage);
  //   rt::EFCreateError "Cannot create file "<absolute path>". <system text>";
  //   rt::EWriteError "Stream write error" when the write is short; the half-written file is
  //     removed.
  // The object keeps its image and stays usable after every error.
  void SaveIconFile(const std::u16string& path);

  std::int32_t Width() const { return image_->Width(); }
  std::int32_t Height() const { return image_->Height(); }
  const std::shared_ptr<TIconImage>& Image() const { return image_; }

 private:
  // The ICO bytes of the current image, built and cached when missing.
  const std::vector<std::uint8_t>& memoryImage();

  std::shared_ptr<TIconImage> image_;
};

}  // namespace imaging
