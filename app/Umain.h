// The invisible main window and its creation handler, the upload pass: the program's whole job.
#pragma once

#include <functional>
#include <string>

#include "app/UploadOperations.h"
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
void FormCreate(IUploadOperations& operations, const std::u16string& programFolder);

// The main window. Its stored attributes are those of the designed window (off-screen, fully
// transparent, never seen). Construction applies them and then runs the creation handler to its
// end; the application object makes the native window from NativeAttributes() only after that
// (off Windows there is no desktop window, and the attributes only document what it would be).
class TFrm_image {
 public:
  struct Attributes {
    int left = -1000;
    int top = -1000;
    int clientWidth = 14;
    int clientHeight = 11;
    bool bordered = false;
    bool layered = true;
    int alphaBlendValue = 0;
    std::u16string caption = u"Talvenooks";
    std::u16string fontName = u"Tahoma";
    int fontHeight = -11;
    bool visible = false;
  };

  explicit TFrm_image(const std::function<void()>& creationHandler);
  const Attributes& attributes() const { return attributes_; }

  // What the native window is made with: the stored attributes the platform window carries.
  static platform::MainWindowAttributes NativeAttributes();

 private:
  Attributes attributes_;
};

}  // namespace app
