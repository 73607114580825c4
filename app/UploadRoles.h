// The roles the upload pass is handed rather than calling them itself: where its icons come from
// and the icon service it asks. They are what tests vary (executables with and without icons,
// icon files that cannot be written, a service that wants, refuses or fails); the catalogue and
// the image folder the pass uses for real, beside the program.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

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

// The executables' icons and versions, and the object that writes icons as files.
class IIconSource {
 public:
  virtual ~IIconSource() = default;
  // A 48x48 icon of index 0 of the executable at `path`, or 0.
  virtual IconHandle extractIcon(const std::u16string& path) = 0;
  // Four numbers joined by "."; "0.0.0.0" when unreadable. Never raises.
  virtual std::u16string fileVersionText(const std::u16string& path) = 0;
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
