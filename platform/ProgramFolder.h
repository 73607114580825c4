// Where the running executable lives.
#pragma once

#include <string>

namespace platform {

// Full path of the running executable, as the system reports it for the program's own module.
std::u16string executablePath();

// The folder part of executablePath(), ending in the path separator.
std::u16string programFolder();

// The path separator of file paths on this platform ("/" or "\").
char16_t pathSeparator();

}  // namespace platform
