// One request on a fresh loopback connection (see Exchange.h).
#include "Exchange.h"

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace load {
namespace {

using Clock = std::chrono::steady_clock;

/** Closes the socket on every path. */
class Socket {
 public:
  Socket() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

/** Waits until $fd is ready for $events or the deadline passes; false on time-out. */
bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

/** The announced Content-Length of a complete head, or -1 when it has none. */
long contentLength(const std::string& head) {
  std::size_t at = 0;
  while ((at = head.find("\r\n", at)) != std::string::npos) {
    at += 2;
    static constexpr char kName[] = "content-length:";
    std::size_t i = 0;
    while (i < sizeof kName - 1 && at + i < head.size() && std::tolower(static_cast<unsigned char>(head[at + i])) == kName[i]) ++i;
    if (i == sizeof kName - 1) return std::strtol(head.c_str() + at + i, nullptr, 10);
  }
  return -1;
}

Reply fail(Reply reply, const char* why, Clock::time_point start) {
  reply.failure = why;
  reply.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return reply;
}

}  // namespace

Reply exchange(int port, const std::string& request, double timeoutSeconds) {
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeoutSeconds));
  Reply reply;
  Socket socket;
  if (socket.fd() < 0) return fail(reply, "connect", start);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(socket.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS) return fail(reply, "connect", start);
    if (!waitFor(socket.fd(), POLLOUT, deadline)) return fail(reply, "timeout", start);
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) return fail(reply, "connect", start);
  }
  for (std::size_t sent = 0; sent < request.size();) {
    const ssize_t n = ::send(socket.fd(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!waitFor(socket.fd(), POLLOUT, deadline)) return fail(reply, "timeout", start);
    } else {
      return fail(reply, "send", start);
    }
  }
  std::string data;
  std::size_t bodyAt = std::string::npos;
  long length = -1;
  char buffer[16384];
  for (;;) {
    if (bodyAt != std::string::npos && length >= 0 && data.size() - bodyAt >= static_cast<std::size_t>(length)) break;
    const ssize_t n = ::recv(socket.fd(), buffer, sizeof buffer, 0);
    if (n > 0) {
      data.append(buffer, static_cast<std::size_t>(n));
      if (bodyAt == std::string::npos) {
        const std::size_t end = data.find("\r\n\r\n");
        if (end != std::string::npos) {
          bodyAt = end + 4;
          length = contentLength(data.substr(0, end + 2));
        }
      }
    } else if (n == 0) {
      break;
    } else if (errno == EAGAIN || errno == EINTR) {
      if (!waitFor(socket.fd(), POLLIN, deadline)) return fail(reply, "timeout", start);
    } else {
      return fail(reply, "receive", start);
    }
  }
  reply.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (bodyAt == std::string::npos || data.compare(0, 7, "HTTP/1.") != 0 || data.size() < 12) {
    reply.failure = data.empty() ? "receive" : "malformed";
    return reply;
  }
  reply.status = std::atoi(data.c_str() + 9);
  reply.body = data.substr(bodyAt, length >= 0 ? static_cast<std::size_t>(length) : std::string::npos);
  return reply;
}

}  // namespace load
