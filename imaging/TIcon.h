// The icon object: owns one platform icon handle and writes it as an ICO file.
//
// The upload pass uses it like this, once per row that produced an icon:
//   imaging::TIcon icon;                      // once per pass
//   icon.AssignHandle(handle);                // from platform::extractIcon; ownership passes
//   icon.SaveIconFile(programFolder + u"image/0.ico");
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Bitmaps.h"
#include "runtime/TMemoryStream.h"

namespace imaging {

// The counted image of an icon object: the handle, the cached ICO bytes and the size. The last
// reference to go destroys the handle and frees the bytes.
class TIconImage {
 public:
  explicit TIconImage(platform::IconHandle handle = nullptr) : handle_(handle) {}
  ~TIconImage();
  TIconImage(const TIconImage&) = delete;
  TIconImage& operator=(const TIconImage&) = delete;

  platform::IconHandle Handle() const { return handle_; }
  // The complete ICO file bytes, built at the first save; none before.
  rt::TMemoryStream* MemoryImage() const { return memoryImage_.get(); }
  void SetMemoryImage(std::unique_ptr<rt::TMemoryStream> image) { memoryImage_ = std::move(image); }
  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  void SetSize(std::int32_t width, std::int32_t height) {
    width_ = width;
    height_ = height;
  }

 private:
  platform::IconHandle handle_ = nullptr;
  std::unique_ptr<rt::TMemoryStream> memoryImage_;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
};

class TIcon {
 public:
  // A fresh object holds an empty image (no handle, no bytes, size 0 x 0).
  TIcon();
  TIcon(const TIcon&) = delete;
  TIcon& operator=(const TIcon&) = delete;

  // Takes ownership of `handle` (none allowed) in a new image and releases the previous image,
  // destroying its handle. The image size is read from the icon's
  // colour bitmap (from the upper half of the mask for a monochrome icon); failures to read it
  // leave 0 x 0.
  void AssignHandle(platform::IconHandle handle);

  // Writes the icon as a single-image ICO file at `path`, creating or replacing it. The bytes are
  // built (once per image, then cached) before the file is created, so a failed build leaves the
  // path untouched. Raises:
  //   EInvalidGraphic "Icon image is not valid" when there is no handle, "Bitmap image is not
  //     valid" when the bitmaps cannot be read;
  //   rt::EFCreateError "Cannot create file "<absolute path>". <system text>";
  //   rt::EWriteError "Stream write error" when the write is short; the half-written file is
  //     removed.
  // The object keeps its handle and stays usable after every error.
  void SaveIconFile(const std::u16string& path);

  platform::IconHandle Handle() const { return image_->Handle(); }
  std::int32_t Width() const { return image_->Width(); }
  std::int32_t Height() const { return image_->Height(); }
  const std::shared_ptr<TIconImage>& Image() const { return image_; }

 private:
  // The ICO bytes of the current image, built and cached when missing.
  rt::TMemoryStream& memoryImage();

  std::shared_ptr<TIconImage> image_;
};

}  // namespace imaging
