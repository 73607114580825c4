// Hostile executables and icon files of the kinds that crashed or ballooned the system's own icon
// and version parsers, built from the PE writer's good files by damaging chosen fields. Used by
// the shared checks' tests (both platforms) and by the Windows tests that feed them to the real
// system calls.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

struct HostileFile {
  const char* what;
  const char* fileName;  // with the extension the system would see (.exe or .ico)
  std::string bytes;
  bool badIcon = true;      // the icon must be refused
  bool badVersion = false;  // the version must be refused ("0.0.0.0")
};

// Every kind: an icon image cut short by the end of the file; a resource root and an icon group
// claiming 65,535 entries; a 22-byte .ico claiming 65,535 images; a 16-bit NE executable; version
// resources claiming 64 MB and 4 GB, and one of 70,000 bytes that is really there; a 48x48 entry
// holding a PNG of 8192 x 8192 pixels; bitmap headers that disagree with their entries; and the
// same damage hidden in a second language of the group, of an image and of the version.
std::vector<HostileFile> hostileFiles();

// A good executable (one 48x48 32-bit icon, version 1.2.3.4) of the same make as the hostile
// ones, for the row that follows a hostile one.
std::string goodExecutable();

}  // namespace testsupport
