// The icon object and its counted image.
#include "imaging/TIcon.h"

#include <cstring>

#include "imaging/EInvalidGraphic.h"
#include "imaging/IconWriter.h"
#include "platform/FileSystem.h"
#include "runtime/TFileStream.h"

namespace imaging {

TIconImage::TIconImage(platform::IconBitmaps bitmaps) : bitmaps_(std::move(bitmaps)) {
  const platform::IconBitmaps& b = *bitmaps_;
  platform::BitmapInfoHeader colour;
  if (b.colourInfo.size() >= sizeof colour) {
    std::memcpy(&colour, b.colourInfo.data(), sizeof colour);
    width_ = colour.width;
    height_ = colour.height;
  } else if (b.monochrome()) {
    width_ = b.maskWidth;
    height_ = b.maskHeight / 2;  // monochrome: AND and XOR halves
  }
}

TIcon::TIcon() : image_(std::make_shared<TIconImage>()) {}

void TIcon::AssignImage(platform::IconBitmaps bitmaps) { image_ = std::make_shared<TIconImage>(std::move(bitmaps)); }

const std::vector<std::uint8_t>& TIcon::memoryImage() {
  if (const std::vector<std::uint8_t>* cached = image_->MemoryImage()) return *cached;
  if (!image_->Bitmaps()) throw EInvalidGraphic(u"Icon image is not valid");
  image_->SetMemoryImage(BuildIconImage(*image_->Bitmaps()));
  return *image_->MemoryImage();
}

void TIcon::SaveIconFile(const std::u16string& path) {
  // Build first: an icon that cannot be written must not cost the file at `path`.
  const std::vector<std::uint8_t>& bytes = memoryImage();
  auto file = std::make_unique<rt::TFileStream>(path, rt::FileMode::CreateExclusive);
  try {
    file->WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  } catch (...) {
    // The create emptied the file; what was written of it is no icon, so none stays behind.
    file.reset();
    platform::removeFile(path);
    throw;
  }
}

}  // namespace imaging
