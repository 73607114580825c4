// Stream sockets on POSIX: BSD sockets, with errno values translated into the Windows sockets
// numbering the HTTP client's messages are written in.
#include "platform/Sockets.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform/LocalTime.h"

namespace platform {
namespace {

// errno -> Windows sockets error number (WSAE*: 10000 + the BSD number of the same condition).
int winsockNumber(int error) {
  switch (error) {
    case 0: return 0;
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: return 10013;
    case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: return 10024;
    case ENFILE: return 10024;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN: return 10035;
#endif
    case EWOULDBLOCK: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: return 10054;
    case EPIPE: return 10054;  // writing to a connection the peer reset
    case ENOBUFS: return 10055;
    case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    default: return error;
  }
}

int lastError() { return winsockNumber(errno); }

int familyOf(SocketFamily family) { return family == SocketFamily::IPv6 ? AF_INET6 : AF_INET; }

// Fills `storage` with the numeric `address` and `port`; empty `address` means any address.
bool makeAddress(SocketFamily family, const std::string& address, int port, sockaddr_storage& storage,
                 socklen_t& length) {
  std::memset(&storage, 0, sizeof storage);
  if (family == SocketFamily::IPv6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(static_cast<std::uint16_t>(port));
    in6->sin6_addr = in6addr_any;
    if (!address.empty() && inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr) != 1) return false;
    length = sizeof(sockaddr_in6);
    return true;
  }
  auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
  in4->sin_family = AF_INET;
  in4->sin_port = htons(static_cast<std::uint16_t>(port));
  in4->sin_addr.s_addr = htonl(INADDR_ANY);
  if (!address.empty() && inet_pton(AF_INET, address.c_str(), &in4->sin_addr) != 1) return false;
  length = sizeof(sockaddr_in);
  return true;
}

void splitAddress(const sockaddr_storage& storage, std::string& address, int& port) {
  char text[INET6_ADDRSTRLEN] = {};
  if (storage.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&storage);
    inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    port = ntohs(in6->sin6_port);
  } else {
    const auto* in4 = reinterpret_cast<const sockaddr_in*>(&storage);
    inet_ntop(AF_INET, &in4->sin_addr, text, sizeof text);
    port = ntohs(in4->sin_port);
  }
  address = text;
}

// poll() on one descriptor for `events`, restarting after signals with the time that is left.
int pollOne(SocketHandle handle, short events, long long timeoutMilliseconds, bool& ready) {
  const long long deadline = timeoutMilliseconds < 0 ? 0 : tickCount() + timeoutMilliseconds;
  for (;;) {
    pollfd entry {static_cast<int>(handle), events, 0};
    long long wait = -1;
    if (timeoutMilliseconds >= 0) wait = std::max(0LL, deadline - tickCount());
    const int result = poll(&entry, 1, static_cast<int>(std::min(wait, 0x7fffffffLL)));
    if (result < 0 && errno == EINTR) continue;
    if (result < 0) return lastError();
    if (result == 0 && timeoutMilliseconds >= 0 && tickCount() < deadline) continue;
    ready = result > 0;
    return 0;
  }
}

}  // namespace

int socketCreate(SocketFamily family, SocketHandle& handle) {
  handle = kNoSocket;
  const int fd = socket(familyOf(family), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return lastError();
  handle = fd;
  return 0;
}

int socketSetReuseAddress(SocketHandle handle, bool reuse) {
  const int value = reuse ? 1 : 0;
  if (setsockopt(static_cast<int>(handle), SOL_SOCKET, SO_REUSEADDR, &value, sizeof value) != 0) return lastError();
  return 0;
}

int socketSetNoDelay(SocketHandle handle, bool noDelay) {
  const int value = noDelay ? 1 : 0;
  if (setsockopt(static_cast<int>(handle), IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) != 0) return lastError();
  return 0;
}

int socketBind(SocketHandle handle, SocketFamily family, const std::string& address, int port) {
  sockaddr_storage storage;
  socklen_t length = 0;
  if (!makeAddress(family, address, port, storage, length)) return 10049;
  if (bind(static_cast<int>(handle), reinterpret_cast<sockaddr*>(&storage), length) != 0) return lastError();
  return 0;
}

// The non-blocking connect is completed with a readiness wait, so a time limit and an
// interrupted wait are handled the same way.
int socketConnect(SocketHandle handle, SocketFamily family, const std::string& address, int port,
                  long long timeoutMilliseconds) {
  sockaddr_storage storage;
  socklen_t length = 0;
  if (!makeAddress(family, address, port, storage, length) || address.empty()) return 10049;
  const auto target = reinterpret_cast<sockaddr*>(&storage);
  if (connect(static_cast<int>(handle), target, length) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return lastError();
    // With a peer on this machine the handshake is mostly over by now: asking again tells so at
    // once (EISCONN), or gives the connect's failure, without the readiness wait. Only a connect
    // still under way (EALREADY) waits.
    int pending = 0;
    if (connect(static_cast<int>(handle), target, length) == 0 || errno == EISCONN) {
      pending = 0;
    } else if (errno != EALREADY && errno != EINPROGRESS && errno != EINTR) {
      pending = errno;
    } else {
      bool ready = false;
      if (const int error = pollOne(handle, POLLOUT, timeoutMilliseconds, ready); error != 0) return error;
      if (!ready) return kSocketTimedOut;
      socklen_t size = sizeof pending;
      if (getsockopt(static_cast<int>(handle), SOL_SOCKET, SO_ERROR, &pending, &size) != 0) return lastError();
    }
    // A reset that arrives between the handshake and this check means the connection was made
    // (a refused one reports ECONNREFUSED): a blocking connect would have succeeded as well, so
    // the reset is left to surface on the first send or receive.
    if (pending != 0 && pending != ECONNRESET) return winsockNumber(pending);
  }
  return 0;
}

int socketSend(SocketHandle handle, const void* data, std::size_t count, std::size_t& sent) {
  sent = 0;
  for (;;) {
    const ssize_t result = send(static_cast<int>(handle), data, count, MSG_NOSIGNAL);
    if (result < 0 && errno == EINTR) continue;
    if (result < 0) return lastError();
    sent = static_cast<std::size_t>(result);
    return 0;
  }
}

int socketReceive(SocketHandle handle, void* buffer, std::size_t count, std::size_t& received) {
  received = 0;
  for (;;) {
    const ssize_t result = recv(static_cast<int>(handle), buffer, count, 0);
    if (result < 0 && errno == EINTR) continue;
    if (result < 0) return lastError();
    received = static_cast<std::size_t>(result);
    return 0;
  }
}

int socketWaitReadable(SocketHandle handle, long long timeoutMilliseconds, bool& readable) {
  readable = false;
  return pollOne(handle, POLLIN, timeoutMilliseconds, readable);
}

int socketWaitWritable(SocketHandle handle, long long timeoutMilliseconds, bool& writable) {
  writable = false;
  return pollOne(handle, POLLOUT, timeoutMilliseconds, writable);
}

void socketShutdownSend(SocketHandle handle) { shutdown(static_cast<int>(handle), SHUT_WR); }

void socketClose(SocketHandle handle) {
  if (handle != kNoSocket) close(static_cast<int>(handle));
}

int resolveHostName(const std::string& name, SocketFamily family, std::string& address) {
  addrinfo hints {};
  hints.ai_family = familyOf(family);
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int result = getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (result != 0) {
    switch (result) {
      case EAI_AGAIN: return 11002;
      case EAI_MEMORY: return 10055;
      case EAI_FAMILY: return 10047;
      case EAI_SOCKTYPE: return 10044;
      case EAI_SYSTEM: return lastError();
      default: return kSocketErrorHostNotFound;
    }
  }
  sockaddr_storage storage {};
  std::memcpy(&storage, found->ai_addr, std::min<std::size_t>(found->ai_addrlen, sizeof storage));
  freeaddrinfo(found);
  int port = 0;
  splitAddress(storage, address, port);
  return 0;
}

bool isIPv6Literal(const std::string& text) {
  in6_addr parsed {};
  return inet_pton(AF_INET6, text.c_str(), &parsed) == 1;
}

}  // namespace platform
