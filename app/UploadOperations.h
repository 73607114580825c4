// What the upload pass needs from the rest of the program, as one interface: the catalogue, the
// file system, the icon calls, the version reader and the two service calls. The program runs
// the pass over the live implementation; tests run it over doubles that record every call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "catalog/TCellValue.h"
#include "catalog/TSQLiteTable.h"

namespace app {

// An icon handle as the platform's extraction hands it out; 0 is "no icon".
using IconHandle = std::uintptr_t;

// The icon object of the pass: owns one icon handle at a time and writes it as an ICO file.
class IIconObject {
 public:
  virtual ~IIconObject() = default;
  // Takes ownership of `handle`, releasing the handle held before.
  virtual void AssignHandle(IconHandle handle) = 0;
  // Creates or overwrites `path` with the icon's ICO bytes; raises when it cannot.
  virtual void SaveIconFile(const std::u16string& path) = 0;
};

class IUploadOperations {
 public:
  virtual ~IUploadOperations() = default;

  // The loaded result of the select, or nullptr when the database file does not exist.
  virtual std::unique_ptr<catalog::TSQLiteTable> selectRows(const std::u16string& databasePath,
                                                            const std::u16string& table,
                                                            const std::u16string& filter) = 0;
  virtual bool directoryExists(const std::u16string& path) = 0;
  // Creates one folder level; the result is not needed.
  virtual void createDirectory(const std::u16string& path) = 0;
  // A 48x48 icon of index 0 of the executable at `path`, or 0.
  virtual IconHandle extractIcon(const std::u16string& path) = 0;
  virtual std::unique_ptr<IIconObject> createIconObject() = 0;
  // Four numbers joined by "."; "0.0.0.0" when unreadable. Never raises.
  virtual std::u16string fileVersionText(const std::u16string& path) = 0;
  // True only when the service succeeded and has no icon for name and version. Never raises.
  virtual bool iconExists(const std::u16string& name, const std::u16string& version) = 0;
  // True when the upload completed. Never raises.
  virtual bool uploadIcon(const std::u16string& name, const std::u16string& iconPath,
                          const std::u16string& version) = 0;
  // Sets `column` to `value` in the row whose `keyColumn` equals `keyValue`, bound with the type
  // it is stored with; raises on failure.
  virtual void updateColumn(const std::u16string& column, const std::u16string& value,
                            const std::u16string& keyColumn, const catalog::TCellValue& keyValue,
                            const std::u16string& databasePath, const std::u16string& table) = 0;
  // Asks the application to end once the pass has returned.
  virtual void requestTermination() = 0;
};

}  // namespace app
