// File and folder tests, folder creation and path helpers.
#pragma once

#include <string>

#include "platform/LinkPolicy.h"

namespace platform {

// True when something that is not a folder exists at `path`.
bool fileExists(const std::u16string& path);

// True when a folder exists at `path`.
bool directoryExists(const std::u16string& path);

// True when nothing is at `path`, or a regular file is; false for a folder, a FIFO, a device, a
// socket or a pipe, and with LinkPolicy::Refuse for a symbolic link (on Windows a reparse point)
// whatever it leads to. Decided from the entry's attributes, never by opening it for reading, so
// nothing planted there can make the caller wait.
bool isAbsentOrRegularFile(const std::u16string& path, LinkPolicy links);

// Creates one folder level; false when it could not be created (including when it exists).
bool createDirectory(const std::u16string& path);

// Removes a file; false when there was none or it could not be removed.
bool removeFile(const std::u16string& path);

// `path` made absolute against the current folder (no symbolic links resolved).
std::u16string absolutePath(const std::u16string& path);

}  // namespace platform
