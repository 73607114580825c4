// The icon object and its counted image.
#include "imaging/TIcon.h"

#include "imaging/EInvalidGraphic.h"
#include "imaging/IconWriter.h"
#include "platform/FileSystem.h"
#include "runtime/TFileStream.h"

namespace imaging {

TIconImage::~TIconImage() {
  if (handle_) platform::destroyIcon(handle_);
}

TIcon::TIcon() : image_(std::make_shared<TIconImage>()) {}

void TIcon::AssignHandle(platform::IconHandle handle) {
  image_ = std::make_shared<TIconImage>(handle);
  if (!handle) return;

  platform::IconInfo info;
  if (!platform::getIconInfo(handle, info)) return;
  platform::BitmapDescription description;
  if (info.colour) {
    if (platform::getObject(info.colour, sizeof description, &description) != 0)
      image_->SetSize(description.width, description.height);
  } else if (platform::getObject(info.mask, sizeof description, &description) != 0) {
    image_->SetSize(description.width, description.height / 2);  // monochrome: AND and XOR halves
  }
  if (info.mask) platform::deleteObject(info.mask);
  if (info.colour) platform::deleteObject(info.colour);
}

rt::TMemoryStream& TIcon::memoryImage() {
  if (rt::TMemoryStream* cached = image_->MemoryImage()) return *cached;
  if (!image_->Handle()) throw EInvalidGraphic(u"Icon image is not valid");
  auto built = std::make_unique<rt::TMemoryStream>();
  BuildIconImage(*built, image_->Handle());
  image_->SetMemoryImage(std::move(built));
  return *image_->MemoryImage();
}

void TIcon::SaveIconFile(const std::u16string& path) {
  // Build first: an icon that cannot be written must not cost the file at `path`.
  rt::TMemoryStream& bytes = memoryImage();
  auto file = std::make_unique<rt::TFileStream>(path, rt::FileMode::CreateExclusive);
  try {
    file->WriteBuffer(bytes.Memory(), bytes.Size());
  } catch (...) {
    // The create emptied the file; what was written of it is no icon, so none stays behind.
    file.reset();
    platform::removeFile(path);
    throw;
  }
}

}  // namespace imaging
