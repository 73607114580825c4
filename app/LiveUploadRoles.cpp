// The live roles of the upload pass.
#include "app/LiveUploadRoles.h"

#include "imaging/FileVersion.h"
#include "imaging/TIcon.h"
#include "platform/Executable.h"
#include "service/IconService.h"

namespace app {
namespace {

// The pass's icon object: the ICO writer's icon.
class IconObject : public IIconObject {
 public:
  void AssignImage(platform::IconBitmaps image) override { icon_.AssignImage(std::move(image)); }
  void SaveIconFile(const std::u16string& path) override { icon_.SaveIconFile(path); }

 private:
  imaging::TIcon icon_;
};

// A row's executable: the platform's, held open while this object lives.
class RowExecutable : public IRowExecutable {
 public:
  explicit RowExecutable(const std::u16string& path) : executable_(path) {}
  std::optional<platform::IconBitmaps> iconBitmaps() override { return executable_.iconBitmaps48(); }
  std::u16string fileVersionText() override { return imaging::fileVersionText(executable_); }

 private:
  platform::Executable executable_;
};

}  // namespace

std::unique_ptr<IRowExecutable> LiveIconSource::openExecutable(const std::u16string& path) {
  return std::make_unique<RowExecutable>(path);
}

std::unique_ptr<IIconObject> LiveIconSource::createIconObject() { return std::make_unique<IconObject>(); }

bool LiveIconService::uploadWanted(const std::u16string& name, const std::u16string& version) {
  return service::iconExists(name, version);
}

bool LiveIconService::uploadIcon(const std::u16string& name, const std::u16string& iconPath,
                                 const std::u16string& version) {
  return service::uploadIcon(name, iconPath, version);
}

}  // namespace app
