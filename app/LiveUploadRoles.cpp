// The live roles of the upload pass.
#include "app/LiveUploadRoles.h"

#include "imaging/FileVersion.h"
#include "imaging/TIcon.h"
#include "platform/Bitmaps.h"
#include "service/IconService.h"

namespace app {
namespace {

// The pass's icon object: the ICO writer's icon, fed with the platform's icon handles.
class IconObject : public IIconObject {
 public:
  void AssignHandle(IconHandle handle) override { icon_.AssignHandle(reinterpret_cast<platform::IconHandle>(handle)); }
  void SaveIconFile(const std::u16string& path) override { icon_.SaveIconFile(path); }

 private:
  imaging::TIcon icon_;
};

}  // namespace

IconHandle LiveIconSource::extractIcon(const std::u16string& path) {
  return reinterpret_cast<IconHandle>(platform::extractIcon(path, 0, 48, 48, platform::kLoadTransparent));
}

std::u16string LiveIconSource::fileVersionText(const std::u16string& path) { return imaging::fileVersionText(path); }

std::unique_ptr<IIconObject> LiveIconSource::createIconObject() { return std::make_unique<IconObject>(); }

bool LiveIconService::uploadWanted(const std::u16string& name, const std::u16string& version) {
  return service::iconExists(name, version);
}

bool LiveIconService::uploadIcon(const std::u16string& name, const std::u16string& iconPath,
                                 const std::u16string& version) {
  return service::uploadIcon(name, iconPath, version);
}

}  // namespace app
