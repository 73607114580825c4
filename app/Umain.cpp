// The upload pass. One row at a time, strictly in order: icon, version, ICO file, existence
// query, upload, mark. Nothing is retried; a row that was not marked is selected again next run.
#include "app/Umain.h"

#include <memory>

#include "platform/ProgramFolder.h"
#include "runtime/Text.h"

namespace app {
namespace {

// Walks the selected rows; the count is taken once, the loop never tests for the end itself.
void processRows(IUploadOperations& operations, catalog::TSQLiteTable& table, const std::u16string& programFolder,
                 const std::u16string& databasePath) {
  const std::u16string imageFolder = programFolder + kImageFolder;
  const std::u16string separator(1, platform::pathSeparator());
  auto icon = operations.createIconObject();
  table.ToFirstRow();
  if (!operations.directoryExists(imageFolder)) operations.createDirectory(imageFolder);

  const int rowCount = table.RowTotal();
  for (int rowNumber = 0; rowNumber < rowCount; ++rowNumber, table.ToNextRow()) {
    const std::u16string exePath = table.TextOf(u"exepath");
    const IconHandle handle = operations.extractIcon(exePath);
    if (handle == 0) continue;  // no icon: the row number is used up, nothing else happens

    icon->AssignHandle(handle);
    const std::u16string iconPath = imageFolder + separator + rt::intToText(rowNumber) + u".ico";
    const std::u16string version = operations.fileVersionText(exePath);
    icon->SaveIconFile(iconPath);

    if (!operations.iconExists(table.TextOf(u"softname"), version)) continue;
    if (!operations.uploadIcon(table.TextOf(u"softname"), iconPath, version)) continue;
    // The key goes back with the type it is stored with; a row without a key cannot be named,
    // so it is left pending rather than marked by a made-up key.
    const catalog::TCellValue key = table.ValueOf(u"ID");
    if (key.IsNull()) continue;
    operations.updateColumn(u"pin", u"1", u"ID", key, databasePath, kTable);
  }
}

}  // namespace

void FormCreate(IUploadOperations& operations, const std::u16string& programFolder) {
  const std::u16string databasePath = programFolder + kDatabaseFolder + platform::pathSeparator() + kDatabaseFile;
  std::unique_ptr<catalog::TSQLiteTable> table = operations.selectRows(databasePath, kTable, kPendingFilter);
  if (table && table->RowTotal() > 0) processRows(operations, *table, programFolder, databasePath);
  table.reset();
  operations.requestTermination();
}

TFrm_image::TFrm_image(const std::function<void()>& creationHandler) { creationHandler(); }

platform::MainWindowAttributes TFrm_image::NativeAttributes() {
  const Attributes stored;
  platform::MainWindowAttributes native;
  native.left = stored.left;
  native.top = stored.top;
  native.clientWidth = stored.clientWidth;
  native.clientHeight = stored.clientHeight;
  native.bordered = stored.bordered;
  native.layered = stored.layered;
  native.alpha = stored.alphaBlendValue;
  native.caption = stored.caption;
  return native;
}

}  // namespace app
