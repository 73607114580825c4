// The exact request bytes that the program sends: the existence query (HTTP/1.0 form POST with
// "Content-Encoding: UTF-8" and a body that starts with "&") and the multipart icon upload
// (boundary from the local time, the file part named by the ICO file's full Windows path).
#pragma once

#include <string>

namespace load {

/** A form value percent-encoded as the program does: bytes above 0x7E, controls and "*#%<> []&+=". */
std::string encodeFormValue(const std::string& utf8);

/** POST index.php?r=sw/exist for $name and $version, to the service at 127.0.0.1:$port. */
std::string existRequest(int port, const std::string& name, const std::string& version);

/**
 * POST index.php?r=sw/upload of $icon for $name and $version, the file part named $icoPath,
 * with the program's boundary "--------" + mmddyyhhnnsszzz of the local time.
 */
std::string uploadRequest(int port, const std::string& name, const std::string& version,
                          const std::string& icoPath, const std::string& icon);

}  // namespace load
