// The error of an icon or bitmap that cannot be turned into an ICO file.
#pragma once

#include "runtime/Exception.h"

namespace imaging {

// Raised with "Icon image is not valid" (an empty image) or "Bitmap image is not valid" (the
// platform cannot describe or hand out the icon's bitmaps).
class EInvalidGraphic : public rt::Exception {
  using Exception::Exception;
};

}  // namespace imaging
