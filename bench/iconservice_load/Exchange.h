// One request over a fresh connection to 127.0.0.1, as the program makes each call: connect,
// send the request bytes, read the reply until the server closes or its announced length is in,
// close. Every step has the one deadline; nothing is retried.
#pragma once

#include <string>

namespace load {

struct Reply {
  /** Empty when a reply came; else what failed: "connect", "send", "receive", "timeout", "malformed". */
  std::string failure;
  int status = 0;
  std::string body;
  /** From the start of the connect to the last byte. */
  double seconds = 0;
};

/** Sends $request to 127.0.0.1:$port and reads the reply, all within $timeoutSeconds. */
Reply exchange(int port, const std::string& request, double timeoutSeconds);

}  // namespace load
