// The roles the upload pass is handed rather than calling them itself: where its icons come from
// and the icon service it asks. They are what tests vary (executables with and without icons,
// icon files that cannot be written, a service that wants, refuses or fails); the catalogue and
// the image folder the pass uses for real, beside the program.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/IconBitmaps.h"

namespace app {

// The icon object of the pass: holds one icon image at a time and writes it as an ICO file.
class IIconObject {
 public:
  virtual ~IIconObject() = default;
  // Holds `image`, releasing the image held before.
  virtual void AssignImage(platform::IconBitmaps image) = 0;
  // Creates or overwrites `path` with the icon's ICO bytes; raises when it cannot.
  virtual void SaveIconFile(const std::u16string& path) = 0;
};

// One row's executable, opened once: the row's icon and version are both read from it, and it is
// closed when the pass drops it.
class IRowExecutable {
 public:
  virtual ~IRowExecutable() = default;
  // The bitmaps of the 48x48 icon of index 0, or nothing.
  virtual std::optional<platform::IconBitmaps> iconBitmaps() = 0;
  // Four numbers joined by "."; "0.0.0.0" when unreadable. Never raises.
  virtual std::u16string fileVersionText() = 0;
};

// The executables' icons and versions, and the object that writes icons as files.
class IIconSource {
 public:
  virtual ~IIconSource() = default;
  // The executable at `path`, opened for the row (one that cannot be opened has no icon).
  virtual std::unique_ptr<IRowExecutable> openExecutable(const std::u16string& path) = 0;
  virtual std::unique_ptr<IIconObject> createIconObject() = 0;
};

// The icon service's two calls.
class IIconService {
 public:
  virtual ~IIconService() = default;
  // True only when the service answered that it has no icon for name and version, so it wants
  // this one (the service's existence query). Never raises.
  virtual bool uploadWanted(const std::u16string& name, const std::u16string& version) = 0;
  // True when the upload completed. Never raises.
  virtual bool uploadIcon(const std::u16string& name, const std::u16string& iconPath,
                          const std::u16string& version) = 0;
};

struct UploadRoles {
  IIconSource& icons;
  IIconService& service;
  // Asks the application to end once the pass has returned.
  std::function<void()> requestTermination;
};

}  // namespace app
