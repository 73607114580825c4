// The upload pass's operations as the program runs them: the real catalogue, file system, icon
// calls, version reader and service calls.
#pragma once

#include <functional>

#include "app/UploadOperations.h"

namespace app {

class LiveUploadOperations : public IUploadOperations {
 public:
  // `terminate` is the application's termination request.
  explicit LiveUploadOperations(std::function<void()> terminate) : terminate_(std::move(terminate)) {}

  std::unique_ptr<catalog::TSQLiteTable> selectRows(const std::u16string& databasePath, const std::u16string& table,
                                                    const std::u16string& filter) override;
  bool directoryExists(const std::u16string& path) override;
  void createDirectory(const std::u16string& path) override;
  IconHandle extractIcon(const std::u16string& path) override;
  std::unique_ptr<IIconObject> createIconObject() override;
  std::u16string fileVersionText(const std::u16string& path) override;
  bool iconExists(const std::u16string& name, const std::u16string& version) override;
  bool uploadIcon(const std::u16string& name, const std::u16string& iconPath, const std::u16string& version) override;
  void updateColumn(const std::u16string& column, const std::u16string& value, const std::u16string& keyColumn,
                    const catalog::TCellValue& keyValue, const std::u16string& databasePath,
                    const std::u16string& table) override;
  void requestTermination() override { terminate_(); }

 private:
  std::function<void()> terminate_;
};

}  // namespace app
