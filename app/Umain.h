// The invisible main window and its creation handler, the upload pass: the program's whole job.
#pragma once

#include <functional>
#include <string>

#include "app/UploadRoles.h"
#include "platform/MainWindow.h"

namespace app {

// Fixed names of the catalogue and of the image folder, relative to the program folder.
inline constexpr char16_t kDatabaseFolder[] = u"DB";
inline constexpr char16_t kDatabaseFile[] = u"REDU.sqlite";
inline constexpr char16_t kTable[] = u"software_data";
inline constexpr char16_t kPendingFilter[] = u"pin = '0' AND exticon = '1'";
inline constexpr char16_t kImageFolder[] = u"image";

// Runs the upload pass once: selects the pending rows of the catalogue beside the program, and
// for each row extracts the icon, saves it as image/<n>.ico, asks the service whether it wants
// it, uploads it when it does and marks the row. `programFolder` ends in the path separator.
// Ends with the termination request on every path that does not raise; an error raised here
// stops the pass and is left to the application object to report.
void FormCreate(const UploadRoles& roles, const std::u16string& programFolder);

// The main window (off-screen, fully transparent, never seen). Construction runs the creation
// handler to its end; the application object makes the native window from NativeAttributes()
// only after that (off Windows there is no desktop window).
class TFrm_image {
 public:
  explicit TFrm_image(const std::function<void()>& creationHandler);

  // What the native window is made with: at -1000,-1000, a 14x11 client area, no border,
  // layered with alpha 0, captioned "Talvenooks".
  static platform::MainWindowAttributes NativeAttributes();
};

}  // namespace app
