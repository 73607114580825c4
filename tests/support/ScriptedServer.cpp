// The scripted loopback peer. Test infrastructure: it speaks to the BSD socket interface directly.
#include "tests/support/ScriptedServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {
namespace {

constexpr int kPollStep = 50;  // milliseconds between looks at the stop flag

// Content-Length of a request head (case-insensitive name), 0 when absent.
std::uint64_t contentLengthOf(const std::string& head) {
  std::string lower(head);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  const std::size_t at = lower.find("\ncontent-length:");
  if (at == std::string::npos) return 0;
  return std::strtoull(lower.c_str() + at + 16, nullptr, 10);
}

}  // namespace

ScriptedServer::Script& ScriptedServer::Script::readRequest(bool keepBody) {
  steps_.push_back({Kind::ReadRequest, {}, 0, keepBody});
  return *this;
}
ScriptedServer::Script& ScriptedServer::Script::readUntilClose() {
  steps_.push_back({Kind::ReadUntilClose, {}, 0, true});
  return *this;
}
ScriptedServer::Script& ScriptedServer::Script::send(std::string bytes) {
  steps_.push_back({Kind::Send, std::move(bytes), 0, true});
  return *this;
}
ScriptedServer::Script& ScriptedServer::Script::sendFill(std::uint64_t count, char byte) {
  steps_.push_back({Kind::SendFill, std::string(1, byte), count, true});
  return *this;
}
ScriptedServer::Script& ScriptedServer::Script::sendForever(std::string bytes) {
  steps_.push_back({Kind::SendForever, std::move(bytes), 0, true});
  return *this;
}
ScriptedServer::Script& ScriptedServer::Script::delay(int milliseconds) {
  steps_.push_back({Kind::Delay, {}, static_cast<std::uint64_t>(milliseconds), true});
  return *this;
}
ScriptedServer::Script& ScriptedServer::Script::delayUntil(const std::atomic<bool>& released, int milliseconds) {
  steps_.push_back({Kind::Delay, {}, static_cast<std::uint64_t>(milliseconds), true, &released});
  return *this;
}
ScriptedServer::Script& ScriptedServer::Script::close() {
  steps_.push_back({Kind::Close, {}, 0, true});
  return *this;
}
ScriptedServer::Script& ScriptedServer::Script::reset() {
  steps_.push_back({Kind::Reset, {}, 0, true});
  return *this;
}

ScriptedServer::ScriptedServer(Family family) : family_(family) {
  const int domain = family == Family::IPv6 ? AF_INET6 : AF_INET;
  listener_ = socket(domain, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) throw std::runtime_error("ScriptedServer: socket failed");
  const int on = 1;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_storage address {};
  socklen_t length = 0;
  if (family == Family::IPv6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
    in6->sin6_family = AF_INET6;
    in6->sin6_addr = in6addr_loopback;
    length = sizeof(sockaddr_in6);
  } else {
    auto* in4 = reinterpret_cast<sockaddr_in*>(&address);
    in4->sin_family = AF_INET;
    in4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof(sockaddr_in);
  }
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(listener_, 64) != 0) {
    ::close(listener_);
    throw std::runtime_error("ScriptedServer: bind/listen failed");
  }
  getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = family == Family::IPv6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
                                 : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
  thread_ = std::thread([this] { serve(); });
}

ScriptedServer::~ScriptedServer() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  ::close(listener_);
}

std::string ScriptedServer::url(const std::string& path) const {
  const std::string host = family_ == Family::IPv6 ? "[::1]" : "127.0.0.1";
  return "http://" + host + ":" + std::to_string(port_) + path;
}

void ScriptedServer::addConnection(Script script) {
  std::lock_guard guard(lock_);
  queued_.push_back(std::move(script));
}

void ScriptedServer::setDefaultScript(Script script) {
  std::lock_guard guard(lock_);
  default_ = std::move(script);
}

std::vector<std::string> ScriptedServer::requests() const {
  std::lock_guard guard(lock_);
  return requests_;
}

std::string ScriptedServer::received(std::size_t index) const {
  std::lock_guard guard(lock_);
  return index < received_.size() ? received_[index] : std::string();
}

std::uint64_t ScriptedServer::bodyBytesRead() const {
  std::lock_guard guard(lock_);
  return bodyBytes_;
}

std::size_t ScriptedServer::connections() const {
  std::lock_guard guard(lock_);
  return received_.size();
}

bool ScriptedServer::waitForFinished(std::size_t count, int timeoutMilliseconds) const {
  std::unique_lock guard(lock_);
  return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMilliseconds),
                           [&] { return finished_ >= count; });
}

void ScriptedServer::serve() {
  while (!stopping_) {
    pollfd entry {listener_, POLLIN, 0};
    if (poll(&entry, 1, kPollStep) <= 0) continue;
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Script script;
    std::size_t index = 0;
    {
      std::lock_guard guard(lock_);
      index = received_.size();
      received_.emplace_back();
      if (nextScript_ < queued_.size()) {
        script = queued_[nextScript_++];
      } else if (default_) {
        script = *default_;
      }
    }
    play(fd, script, index);
    std::lock_guard guard(lock_);
    ++finished_;
    changed_.notify_all();
  }
}

void ScriptedServer::record(std::size_t index, const std::string& bytes) {
  std::lock_guard guard(lock_);
  received_[index] += bytes;
}

bool ScriptedServer::readSome(int fd, std::string& data) {
  char block[65536];
  while (!stopping_) {
    pollfd entry {fd, POLLIN, 0};
    const int ready = poll(&entry, 1, kPollStep);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    const ssize_t got = recv(fd, block, sizeof block, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    data.append(block, static_cast<std::size_t>(got));
    return true;
  }
  return false;
}

bool ScriptedServer::sendAll(int fd, const char* data, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    if (stopping_) return false;
    pollfd entry {fd, POLLOUT, 0};
    const int ready = poll(&entry, 1, kPollStep);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    const ssize_t sent = ::send(fd, data + done, count - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (sent <= 0) return false;
    done += static_cast<std::size_t>(sent);
  }
  return true;
}

void ScriptedServer::play(int fd, const Script& script, std::size_t index) {
  std::string pending;  // received but not yet consumed by a step
  bool open = true;
  for (const Script::Step& step : script.steps_) {
    if (!open || stopping_) break;
    switch (step.kind) {
      case Script::Kind::ReadRequest: {
        std::size_t end = 0;
        while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
          if (!readSome(fd, pending)) {
            open = false;
            break;
          }
        }
        if (!open) {
          record(index, pending);
          break;
        }
        std::string request = pending.substr(0, end + 4);
        pending.erase(0, end + 4);
        std::uint64_t body = contentLengthOf(request);
        record(index, request);
        std::uint64_t bodyRead = 0;
        while (body > 0) {
          if (pending.empty() && !readSome(fd, pending)) {
            open = false;
            break;
          }
          const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(body, pending.size()));
          if (step.keepBody) {
            request.append(pending, 0, take);
            record(index, pending.substr(0, take));
          }
          pending.erase(0, take);
          body -= take;
          bodyRead += take;
        }
        std::lock_guard guard(lock_);
        requests_.push_back(std::move(request));
        bodyBytes_ += bodyRead;
        break;
      }
      case Script::Kind::ReadUntilClose:
        while (readSome(fd, pending)) {
        }
        record(index, pending);
        pending.clear();
        open = false;
        break;
      case Script::Kind::Send:
        open = sendAll(fd, step.bytes.data(), step.bytes.size());
        break;
      case Script::Kind::SendFill: {
        const std::string block(1 << 20, step.bytes[0]);
        std::uint64_t left = step.count;
        while (open && left > 0) {
          const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
          open = sendAll(fd, block.data(), n);
          left -= n;
        }
        break;
      }
      case Script::Kind::SendForever:
        while (open && !stopping_) open = sendAll(fd, step.bytes.data(), step.bytes.size());
        break;
      case Script::Kind::Delay: {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(step.count);
        while (!stopping_ && std::chrono::steady_clock::now() < until && !(step.released && *step.released)) {
          std::this_thread::sleep_for(std::chrono::milliseconds(std::min<std::uint64_t>(step.count, 10)));
        }
        break;
      }
      case Script::Kind::Close:
        open = false;
        break;
      case Script::Kind::Reset: {
        linger hard {1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::close(fd);
        return;
      }
    }
  }
  // A graceful close: send FIN, then drain what the client still sends (briefly), so unread
  // input does not turn the close into a reset.
  shutdown(fd, SHUT_WR);
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  char sink[65536];
  while (!stopping_ && std::chrono::steady_clock::now() < until) {
    pollfd entry {fd, POLLIN, 0};
    if (poll(&entry, 1, 10) <= 0) continue;
    if (recv(fd, sink, sizeof sink, 0) <= 0) break;
  }
  ::close(fd);
}

}  // namespace testsupport
