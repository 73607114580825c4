// File and folder tests, folder creation and path helpers.
#pragma once

#include <string>

namespace platform {

// True when something that is not a folder exists at `path`.
bool fileExists(const std::u16string& path);

// True when a folder exists at `path`.
bool directoryExists(const std::u16string& path);

// Creates one folder level; false when it could not be created (including when it exists).
bool createDirectory(const std::u16string& path);

// Removes a file; false when there was none or it could not be removed.
bool removeFile(const std::u16string& path);

// `path` made absolute against the current folder (no symbolic links resolved).
std::u16string absolutePath(const std::u16string& path);

}  // namespace platform
