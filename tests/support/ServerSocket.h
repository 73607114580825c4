// The server half of loopback sockets, which only the tests' peers need (the program itself only
// connects): listening, taking connections, the bound port and a close with a reset. Creating,
// binding, sending and receiving go through the platform's sockets (platform/Sockets.h), so
// every socket here is non-blocking like the program's.
#pragma once

#include "platform/Sockets.h"

namespace testsupport {

// Marks a bound socket as accepting connections; false when the platform refuses.
bool listenOn(platform::SocketHandle handle, int backlog);

// Takes the next waiting connection of `listener` into `accepted` (non-blocking, not inherited
// by child processes); false when none is waiting or the platform refuses.
bool acceptFrom(platform::SocketHandle listener, platform::SocketHandle& accepted);

// The local port of a bound socket; 0 when it cannot be read.
int boundPort(platform::SocketHandle handle);

// Closes with a reset instead of the orderly close (linger on, time 0): the peer's next receive
// or send fails with "connection reset" (10054), and unsent bytes are dropped.
void closeWithReset(platform::SocketHandle handle);

}  // namespace testsupport
