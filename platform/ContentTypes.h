// The content types the system has registered for file extensions: the registry's classes root
// on Windows, the mime.types table elsewhere. The MIME table of the service client reads them
// after its built-in lines.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace platform {

// Receives one registration: `extension` starts with "."; both texts are as the system stores
// them (not case-mapped).
using ContentTypeSink = std::function<void(const std::u16string& extension, const std::u16string& contentType)>;

// Calls `sink` once per registration, in the order in which a later registration of the same
// extension is meant to replace an earlier one. A missing table gives no call; a malformed
// entry (a value of the wrong kind, a garbled line) is skipped like a missing one, so this never
// fails. With a non-empty `onlyExtension` (leading ".", in lower case as the MIME table keeps
// extensions), only the registrations that the table would file under that extension are
// reported (their extension in lower case equals it); the others are not even decoded, and where
// the system's table is indexed by extension (the registry) it is not listed either. Nothing is
// kept between calls: each call reads the system's table afresh.
void enumerateContentTypes(const ContentTypeSink& sink, std::u16string_view onlyExtension = {});

// Tests: platform/ContentTypeRegistry.h can put a registry-like table of the test's own in place
// of the system's table, read through the Windows registry pass on every platform.

// Tests: where the system's table is a file, read `path` instead; an empty path restores the
// system's own table. Has no effect where the table is not a file.
void setContentTypesFile(std::u16string path);

}  // namespace platform
