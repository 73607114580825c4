// The scripted loopback peer, on the platform's socket calls so that it serves the same scripts
// on every platform.
#include "tests/support/ScriptedServer.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "tests/support/ServerSocket.h"

namespace testsupport {
namespace {

constexpr int kPollStep = 50;       // milliseconds between looks at the stop flag
constexpr int kWouldBlock = 10035;  // a non-blocking call that would have had to wait

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

ScriptedServer::ScriptedServer(Family family, int port) : family_(family) {
  const auto socketFamily = family == Family::IPv6 ? platform::SocketFamily::IPv6 : platform::SocketFamily::IPv4;
  if (platform::socketCreate(socketFamily, listener_) != 0) throw std::runtime_error("ScriptedServer: socket failed");
  // Only a fixed port needs reuse; on Windows reuse would even let another socket share an
  // ephemeral one.
  if (port != 0) platform::socketSetReuseAddress(listener_, true);
  if (platform::socketBind(listener_, socketFamily, family == Family::IPv6 ? "::1" : "127.0.0.1", port) != 0 ||
      !listenOn(listener_, 64) || (port_ = boundPort(listener_)) == 0) {
    platform::socketClose(listener_);
    throw std::runtime_error("ScriptedServer: bind/listen failed");
  }
  thread_ = std::thread([this] { serve(); });
}

ScriptedServer::~ScriptedServer() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  platform::socketClose(listener_);
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
    bool pending = false;
    if (platform::socketWaitReadable(listener_, kPollStep, pending) != 0 || !pending) continue;
    platform::SocketHandle connection = platform::kNoSocket;
    // Non-blocking, so that every send and receive below waits in steps that look at the stop
    // flag instead of inside the system.
    if (!acceptFrom(listener_, connection)) continue;
    platform::socketSetNoDelay(connection, true);
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
    play(connection, script, index);
    std::lock_guard guard(lock_);
    ++finished_;
    changed_.notify_all();
  }
}

void ScriptedServer::record(std::size_t index, const std::string& bytes) {
  std::lock_guard guard(lock_);
  received_[index] += bytes;
}

bool ScriptedServer::readSome(platform::SocketHandle connection, std::string& data) {
  char block[65536];
  while (!stopping_) {
    bool readable = false;
    if (platform::socketWaitReadable(connection, kPollStep, readable) != 0) return false;
    if (!readable) continue;
    std::size_t got = 0;
    const int error = platform::socketReceive(connection, block, sizeof block, got);
    if (error == kWouldBlock) continue;
    if (error != 0 || got == 0) return false;
    data.append(block, got);
    return true;
  }
  return false;
}

bool ScriptedServer::sendAll(platform::SocketHandle connection, const char* data, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    if (stopping_) return false;
    bool writable = false;
    if (platform::socketWaitWritable(connection, kPollStep, writable) != 0) return false;
    if (!writable) continue;
    std::size_t sent = 0;
    const int error = platform::socketSend(connection, data + done, count - done, sent);
    if (error == kWouldBlock) continue;
    if (error != 0 || sent == 0) return false;
    done += sent;
  }
  return true;
}

void ScriptedServer::play(platform::SocketHandle connection, const Script& script, std::size_t index) {
  std::string pending;  // received but not yet consumed by a step
  bool open = true;
  for (const Script::Step& step : script.steps_) {
    if (!open || stopping_) break;
    switch (step.kind) {
      case Script::Kind::ReadRequest: {
        std::size_t end = 0;
        while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
          if (!readSome(connection, pending)) {
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
          if (pending.empty() && !readSome(connection, pending)) {
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
        while (readSome(connection, pending)) {
        }
        record(index, pending);
        pending.clear();
        open = false;
        break;
      case Script::Kind::Send:
        open = sendAll(connection, step.bytes.data(), step.bytes.size());
        break;
      case Script::Kind::SendFill: {
        const std::string block(1 << 20, step.bytes[0]);
        std::uint64_t left = step.count;
        while (open && left > 0) {
          const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
          open = sendAll(connection, block.data(), n);
          left -= n;
        }
        break;
      }
      case Script::Kind::SendForever:
        while (open && !stopping_) open = sendAll(connection, step.bytes.data(), step.bytes.size());
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
      case Script::Kind::Reset:
        closeWithReset(connection);
        return;
    }
  }
  closeGracefully(connection);
}

// A graceful close: send FIN, then drain what the client still sends (briefly), so unread
// input does not turn the close into a reset.
void ScriptedServer::closeGracefully(platform::SocketHandle connection) {
  platform::socketShutdownSend(connection);
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  char sink[65536];
  while (!stopping_ && std::chrono::steady_clock::now() < until) {
    bool readable = false;
    if (platform::socketWaitReadable(connection, 10, readable) != 0) break;
    if (!readable) continue;
    std::size_t got = 0;
    const int error = platform::socketReceive(connection, sink, sizeof sink, got);
    if (error == kWouldBlock) continue;
    if (error != 0 || got == 0) break;
  }
  platform::socketClose(connection);
}

}  // namespace testsupport
