// The test every path from the catalogue passes before the system reads it, for platform/win32
// only: nothing the program opens may block it (a pipe, a device).
#pragma once

#include <string>

namespace platform::win32 {

// True when `path` names an existing regular file on a disk: not a folder, not a device ("CON",
// "\\.\COM1"), not a pipe ("\\.\pipe\..."). Decided without reading a byte and without waiting on
// the object: device-namespace paths are refused by their form, anything else is opened for its
// attributes only and its type asked (GetFileType).
bool isRegularFile(const std::u16string& path);

}  // namespace platform::win32
