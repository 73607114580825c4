// A network of the test process's own: a new network namespace whose only interface is the
// loopback, brought up. Everything the process starts afterwards (Wine's server and programs,
// php) lives in it, so the fixed service port 127.0.0.1:8750 is the test's own and can collide
// neither with parallel tests nor with anything else on the machine.
#pragma once

#include <string>

namespace wintest {

// Moves the calling process (which must not have started threads yet) into a new network
// namespace with "lo" up. Returns an empty text on success, else why it failed (it needs root,
// or CAP_SYS_ADMIN and CAP_NET_ADMIN).
std::string enterPrivateNetwork();

}  // namespace wintest
