// The upload pass's roles as the program runs them: the platform's icon extraction, the version
// reader and the ICO writer, and the calls to the real icon service.
#pragma once

#include "app/UploadRoles.h"

namespace app {

class LiveIconSource : public IIconSource {
 public:
  std::unique_ptr<IRowExecutable> openExecutable(const std::u16string& path) override;
  std::unique_ptr<IIconObject> createIconObject() override;
};

class LiveIconService : public IIconService {
 public:
  bool uploadWanted(const std::u16string& name, const std::u16string& version) override;
  bool uploadIcon(const std::u16string& name, const std::u16string& iconPath, const std::u16string& version) override;
};

}  // namespace app
