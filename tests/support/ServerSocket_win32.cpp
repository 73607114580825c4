// The tests' server half of loopback sockets on Windows, linked with Winsock directly (the
// program loads it at run time; its first socket has started it by the time a listener exists).
#include "tests/support/ServerSocket.h"

#include "platform/win32/WindowsSetup.h"
#include <winsock2.h>
#include <ws2tcpip.h>

namespace testsupport {

bool listenOn(platform::SocketHandle handle, int backlog) {
  return listen(static_cast<SOCKET>(handle), backlog) == 0;
}

// A Winsock socket inherits its listener's non-blocking mode, which the platform gave it.
bool acceptFrom(platform::SocketHandle listener, platform::SocketHandle& accepted) {
  accepted = platform::kNoSocket;
  const SOCKET taken = accept(static_cast<SOCKET>(listener), nullptr, nullptr);
  if (taken == INVALID_SOCKET) return false;
  SetHandleInformation(reinterpret_cast<HANDLE>(taken), HANDLE_FLAG_INHERIT, 0);
  accepted = static_cast<platform::SocketHandle>(taken);
  return true;
}

int boundPort(platform::SocketHandle handle) {
  sockaddr_storage storage{};
  int length = sizeof storage;
  if (getsockname(static_cast<SOCKET>(handle), reinterpret_cast<sockaddr*>(&storage), &length) != 0) return 0;
  if (storage.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
  return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
}

void closeWithReset(platform::SocketHandle handle) {
  if (handle == platform::kNoSocket) return;
  const linger hard{1, 0};
  setsockopt(static_cast<SOCKET>(handle), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
  closesocket(static_cast<SOCKET>(handle));
}

}  // namespace testsupport
