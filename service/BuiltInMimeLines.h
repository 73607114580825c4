// The content types the MIME table knows before the platform's registrations: 314 lines
// "extension=type", the extension with its leading ".".
#pragma once

#include <span>

namespace service {

// The built-in lines, grouped by top-level type (animation, audio, image, text, video,
// application, then further application and text entries). Three extensions occur twice; the
// earlier line wins.
std::span<const char* const> BuiltInMimeLines();

}  // namespace service
