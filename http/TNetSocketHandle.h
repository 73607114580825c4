// One socket of the client: the handle, its address family, and the local and peer addresses.
// Closing and the end of a connect are serialised by a lock, since a connect may be cut short
// by closing the socket.
//
// The socket is non-blocking from its creation to its close: sends and receives never wait in
// the system, and the handler above waits for readiness itself, within its time limits. That
// costs no mode switches around the connect, and lets a mere check for arrived bytes be one
// receive.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>

#include "http/TNetIPVersion.h"
#include "platform/Sockets.h"

namespace net {

class TNetSocketHandle {
 public:
  TNetSocketHandle() = default;
  ~TNetSocketHandle() { CloseSocket(); }
  TNetSocketHandle(const TNetSocketHandle&) = delete;
  TNetSocketHandle& operator=(const TNetSocketHandle&) = delete;

  bool HandleAllocated() const { return handle_ != platform::kNoSocket; }
  platform::SocketHandle Handle() const { return handle_; }
  TNetIPVersion IPVersion() const { return ipVersion_; }
  // Changing the family of an allocated socket raises ENetCannotSetIPVersionWhenConnected
  // "Cannot change IPVersion when connected".
  void SetIPVersion(TNetIPVersion version);

  // Forgets everything: no handle (an allocated one is closed), no addresses, IPv4.
  void Reset();
  // Creates a (non-blocking) stream socket of the current family; raises the socket error on
  // failure.
  void AllocateSocket();
  void SetReuseAddress(bool reuse);
  void SetNoDelay(bool noDelay);
  // Binds to `address` (empty = any) and `port` (0 = any). With `portMin`..`portMax` given
  // instead of a port, the ports are tried from the highest down.
  void Bind(const std::u16string& address, int port, int portMin, int portMax);
  // Connects to the numeric `address`; `timeoutMilliseconds` < 0 = no limit. Returns false when
  // the time passed first; failures raise the socket error.
  bool Connect(const std::u16string& address, int port, long long timeoutMilliseconds);

  // Sends what the system takes at once: the count sent (0 = the peer is gone), or nothing
  // when it takes no byte now. The socket error is raised on failure.
  std::optional<std::size_t> Send(const void* data, std::size_t count);
  // Receives what has arrived: the count (0 = the peer has closed), or nothing when no byte has
  // arrived yet. The socket error is raised on failure.
  std::optional<std::size_t> Receive(void* buffer, std::size_t count);
  // True when the socket turned readable / writable within the time (< 0 = no limit).
  bool Readable(long long timeoutMilliseconds);
  bool Writable(long long timeoutMilliseconds);

  // Shuts down the sending side and closes the handle (nothing when none is allocated). Once a
  // receive has seen the peer's end of data, the close alone sends the same FIN (the receive
  // queue is empty, so no reset), and the separate shutdown is left out.
  void CloseSocket();


 private:
  platform::SocketFamily family() const {
    return ipVersion_ == TNetIPVersion::Net_IPv6 ? platform::SocketFamily::IPv6 : platform::SocketFamily::IPv4;
  }

  std::mutex lock_;
  platform::SocketHandle handle_ = platform::kNoSocket;
  TNetIPVersion ipVersion_ = TNetIPVersion::Net_IPv4;
  bool peerFinished_ = false;  // a receive returned 0: the peer sent its FIN
};

}  // namespace net
