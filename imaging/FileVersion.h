// The file version of an executable as the text the icon service files icons under.
#pragma once

#include <string>

namespace platform {
class Executable;
}

namespace imaging {

// The file version of `executable` from its fixed version record: major, minor, release and build
// joined by "." ("1.2.3.4", each 0..65535 without leading zeros), or "0.0.0.0" when the file has
// no readable version information. Never raises: an unexpected error writes one debug line
// "ResponseStream: " + its message and gives "0.0.0.0".
std::u16string fileVersionText(const platform::Executable& executable);

}  // namespace imaging
