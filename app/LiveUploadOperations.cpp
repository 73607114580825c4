// The live operations of the upload pass.
#include "app/LiveUploadOperations.h"

#include "catalog/operateREDU.h"
#include "platform/FileSystem.h"
#include "runtime/Exception.h"

namespace app {
namespace {

// Icon extraction is not available yet on this platform: no row yields a handle, so the pass
// skips every row and this object is never asked to save.
class UnavailableIconObject : public IIconObject {
 public:
  void AssignHandle(IconHandle) override {}
  void SaveIconFile(const std::u16string&) override { throw rt::Exception(u"Icon image is not valid"); }
};

}  // namespace

std::unique_ptr<catalog::TSQLiteTable> LiveUploadOperations::selectRows(const std::u16string& databasePath,
                                                                        const std::u16string& table,
                                                                        const std::u16string& filter) {
  return catalog::selectRows(databasePath, table, filter);
}

bool LiveUploadOperations::directoryExists(const std::u16string& path) { return platform::directoryExists(path); }

void LiveUploadOperations::createDirectory(const std::u16string& path) { platform::createDirectory(path); }

IconHandle LiveUploadOperations::extractIcon(const std::u16string&) { return 0; }

std::unique_ptr<IIconObject> LiveUploadOperations::createIconObject() {
  return std::make_unique<UnavailableIconObject>();
}

std::u16string LiveUploadOperations::fileVersionText(const std::u16string&) { return u"0.0.0.0"; }

bool LiveUploadOperations::iconExists(const std::u16string&, const std::u16string&) { return false; }

bool LiveUploadOperations::uploadIcon(const std::u16string&, const std::u16string&, const std::u16string&) {
  return false;
}

void LiveUploadOperations::updateColumn(const std::u16string& column, const std::u16string& value,
                                        const std::u16string& keyColumn, const std::u16string& keyValue,
                                        const std::u16string& databasePath, const std::u16string& table) {
  catalog::updateColumn(column, value, keyColumn, keyValue, databasePath, table);
}

}  // namespace app
