// The upload pass. One row at a time, strictly in order: icon, version, ICO file, existence
// query, upload, mark. Nothing is retried; a row that was not marked is selected again next run.
#include "app/Umain.h"

#include <memory>
#include <optional>

#include "catalog/operateREDU.h"
#include "platform/FileSystem.h"
#include "platform/ProgramFolder.h"
#include "runtime/Text.h"

namespace app {
namespace {

// Walks the selected rows; the count is taken once, the loop never tests for the end itself.
void processRows(const UploadRoles& roles, catalog::TSQLiteTable& table, const std::u16string& programFolder,
                 const std::u16string& databasePath) {
  const std::u16string imageFolder = programFolder + kImageFolder;
  const std::u16string separator(1, platform::pathSeparator());
  auto icon = roles.icons.createIconObject();
  table.ToFirstRow();
  if (!platform::directoryExists(imageFolder)) platform::createDirectory(imageFolder);

  const int rowCount = table.RowTotal();
  for (int rowNumber = 0; rowNumber < rowCount; ++rowNumber, table.ToNextRow()) {
    std::u16string version;
    {
      // The row's executable is opened once; icon and version come from it, and it is closed
      // before the file is written and the service is asked: on Windows it is held against
      // writes while open, and the user's installer must not wait on our network calls.
      const std::unique_ptr<IRowExecutable> executable = roles.icons.openExecutable(table.TextOf(u"exepath"));
      std::optional<platform::IconBitmaps> bitmaps = executable->iconBitmaps();
      if (!bitmaps) continue;  // no icon: the row number is used up, nothing else happens
      icon->AssignImage(std::move(*bitmaps));
      version = executable->fileVersionText();
    }
    const std::u16string iconPath = imageFolder + separator + rt::intToText(rowNumber) + u".ico";
    icon->SaveIconFile(iconPath);

    if (!roles.service.uploadWanted(table.TextOf(u"softname"), version)) continue;
    if (!roles.service.uploadIcon(table.TextOf(u"softname"), iconPath, version)) continue;
    // The key goes back with the type it is stored with; a row without a key cannot be named,
    // so it is left pending rather than marked by a made-up key.
    const catalog::TCellValue key = table.ValueOf(u"ID");
    if (key.IsNull()) continue;
    catalog::updateColumn(u"pin", u"1", u"ID", key, databasePath, kTable);
  }
}

}  // namespace

void FormCreate(const UploadRoles& roles, const std::u16string& programFolder) {
  const std::u16string databasePath = programFolder + kDatabaseFolder + platform::pathSeparator() + kDatabaseFile;
  std::unique_ptr<catalog::TSQLiteTable> table = catalog::selectRows(databasePath, kTable, kPendingFilter);
  if (table && table->RowTotal() > 0) processRows(roles, *table, programFolder, databasePath);
  table.reset();
  roles.requestTermination();
}

TFrm_image::TFrm_image(const std::function<void()>& creationHandler) { creationHandler(); }

platform::MainWindowAttributes TFrm_image::NativeAttributes() {
  platform::MainWindowAttributes native;
  native.left = -1000;
  native.top = -1000;
  native.clientWidth = 14;
  native.clientHeight = 11;
  native.bordered = false;
  native.layered = true;
  native.alpha = 0;
  native.caption = u"Talvenooks";
  return native;
}

}  // namespace app
