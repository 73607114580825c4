// One socket of the client.
#include "http/TNetSocketHandle.h"

#include "http/NetExceptions.h"
#include "http/TNetStack.h"
#include "runtime/Text.h"

namespace net {

void TNetSocketHandle::SetIPVersion(TNetIPVersion version) {
  if (version == ipVersion_) return;
  if (HandleAllocated()) throw ENetCannotSetIPVersionWhenConnected(u"Cannot change IPVersion when connected");
  ipVersion_ = version;
}

void TNetSocketHandle::Reset() {
  CloseSocket();
  ipVersion_ = TNetIPVersion::Net_IPv4;
}

void TNetSocketHandle::AllocateSocket() {
  CloseSocket();
  platform::SocketHandle created = platform::kNoSocket;
  TNetStack::Check(platform::socketCreate(family(), created));
  std::lock_guard guard(lock_);
  handle_ = created;
  peerFinished_ = false;
}

void TNetSocketHandle::SetReuseAddress(bool reuse) { TNetStack::Check(platform::socketSetReuseAddress(handle_, reuse)); }

void TNetSocketHandle::SetNoDelay(bool noDelay) { TNetStack::Check(platform::socketSetNoDelay(handle_, noDelay)); }

void TNetSocketHandle::Bind(const std::u16string& address, int port, int portMin, int portMax) {
  const std::string ip = rt::toUtf8(address);
  if (port == 0 && portMin > 0 && portMax >= portMin) {
    for (int candidate = portMax; candidate >= portMin; --candidate) {
      if (platform::socketBind(handle_, family(), ip, candidate) == 0) return;
    }
    throw ENetCanNotBindPortInRange(u"Can not bind in port range (" + rt::intToText(portMin) + u" - " +
                                    rt::intToText(portMax) + u")");
  }
  if (platform::socketBind(handle_, family(), ip, port) != 0) {
    throw ENetCouldNotBindSocket(u"Could not bind socket. Address and port are already in use.");
  }
}

bool TNetSocketHandle::Connect(const std::u16string& address, int port, long long timeoutMilliseconds) {
  const int result = platform::socketConnect(handle_, family(), rt::toUtf8(address), port, timeoutMilliseconds);
  if (result == platform::kSocketTimedOut) return false;
  std::lock_guard guard(lock_);
  TNetStack::Check(result);
  return true;
}

std::optional<std::size_t> TNetSocketHandle::Send(const void* data, std::size_t count) {
  std::size_t sent = 0;
  const int result = platform::socketSend(handle_, data, count, sent);
  if (result == platform::kSocketErrorWouldBlock) return std::nullopt;
  TNetStack::Check(result);
  return sent;
}

std::optional<std::size_t> TNetSocketHandle::Receive(void* buffer, std::size_t count) {
  std::size_t received = 0;
  const int result = platform::socketReceive(handle_, buffer, count, received);
  if (result == platform::kSocketErrorWouldBlock) return std::nullopt;
  TNetStack::Check(result);
  if (received == 0 && count > 0) peerFinished_ = true;
  return received;
}

bool TNetSocketHandle::Readable(long long timeoutMilliseconds) {
  bool readable = false;
  TNetStack::Check(platform::socketWaitReadable(handle_, timeoutMilliseconds, readable));
  return readable;
}

bool TNetSocketHandle::Writable(long long timeoutMilliseconds) {
  bool writable = false;
  TNetStack::Check(platform::socketWaitWritable(handle_, timeoutMilliseconds, writable));
  return writable;
}

void TNetSocketHandle::CloseSocket() {
  std::lock_guard guard(lock_);
  if (handle_ == platform::kNoSocket) return;
  if (!peerFinished_) platform::socketShutdownSend(handle_);
  platform::socketClose(handle_);
  handle_ = platform::kNoSocket;
  peerFinished_ = false;
}

}  // namespace net
