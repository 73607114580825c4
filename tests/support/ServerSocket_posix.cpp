// The tests' server half of loopback sockets on POSIX systems.
#include "tests/support/ServerSocket.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace testsupport {

bool listenOn(platform::SocketHandle handle, int backlog) { return listen(static_cast<int>(handle), backlog) == 0; }

bool acceptFrom(platform::SocketHandle listener, platform::SocketHandle& accepted) {
  accepted = platform::kNoSocket;
  int fd = -1;
  do {
    fd = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  accepted = fd;
  return true;
}

int boundPort(platform::SocketHandle handle) {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  if (getsockname(static_cast<int>(handle), reinterpret_cast<sockaddr*>(&storage), &length) != 0) return 0;
  if (storage.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
  return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
}

void closeWithReset(platform::SocketHandle handle) {
  if (handle == platform::kNoSocket) return;
  const linger hard{1, 0};
  setsockopt(static_cast<int>(handle), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  close(static_cast<int>(handle));
}

}  // namespace testsupport
