// The live operations of the upload pass.
#include "app/LiveUploadOperations.h"

#include "catalog/operateREDU.h"
#include "imaging/FileVersion.h"
#include "imaging/TIcon.h"
#include "platform/Bitmaps.h"
#include "platform/FileSystem.h"
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

std::unique_ptr<catalog::TSQLiteTable> LiveUploadOperations::selectRows(const std::u16string& databasePath,
                                                                        const std::u16string& table,
                                                                        const std::u16string& filter) {
  return catalog::selectRows(databasePath, table, filter);
}

bool LiveUploadOperations::directoryExists(const std::u16string& path) { return platform::directoryExists(path); }

void LiveUploadOperations::createDirectory(const std::u16string& path) { platform::createDirectory(path); }

IconHandle LiveUploadOperations::extractIcon(const std::u16string& path) {
  return reinterpret_cast<IconHandle>(platform::extractIcon(path, 0, 48, 48, platform::kLoadTransparent));
}

std::unique_ptr<IIconObject> LiveUploadOperations::createIconObject() {
  return std::make_unique<IconObject>();
}

std::u16string LiveUploadOperations::fileVersionText(const std::u16string& path) {
  return imaging::fileVersionText(path);
}

bool LiveUploadOperations::iconExists(const std::u16string& name, const std::u16string& version) {
  return service::iconExists(name, version);
}

bool LiveUploadOperations::uploadIcon(const std::u16string& name, const std::u16string& iconPath,
                                      const std::u16string& version) {
  return service::uploadIcon(name, iconPath, version);
}

void LiveUploadOperations::updateColumn(const std::u16string& column, const std::u16string& value,
                                        const std::u16string& keyColumn, const catalog::TCellValue& keyValue,
                                        const std::u16string& databasePath, const std::u16string& table) {
  catalog::updateColumn(column, value, keyColumn, keyValue, databasePath, table);
}

}  // namespace app
