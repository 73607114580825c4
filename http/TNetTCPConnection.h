// A TCP connection: owns (or borrows) the I/O handler and closes it. Base of the client.
#pragma once

#include <functional>
#include <memory>

#include "http/TNetIOHandler.h"
#include "http/TNetStatus.h"

namespace net {

class TNetTCPConnection {
 public:
  TNetTCPConnection() = default;
  // Closes the handler; frees it when the connection created it.
  virtual ~TNetTCPConnection();
  TNetTCPConnection(const TNetTCPConnection&) = delete;
  TNetTCPConnection& operator=(const TNetTCPConnection&) = delete;

  // The I/O handler; none until the first connect creates one.
  TNetIOHandler* IOHandler() const { return ioHandler_; }

  // Closes an open handler: "Disconnecting.", close, OnDisconnected, "Disconnected.". Nothing
  // happens without an open handler; never raises for an unconnected client.
  void CloseConnection(bool notifyPeer = true);
  // False without a handler; otherwise the handler's test (queued unread bytes count as
  // connected even after the peer closed).
  bool IsConnected();

  TNetStatusEvent OnStatus;
  std::function<void()> OnDisconnected;

 protected:
  void ReportStatus(TNetStatus status, const std::u16string& text) {
    if (OnStatus) OnStatus(status, text);
  }

  // The handler in use: the owned one, or one a subclass lends (not owned; it must outlive the
  // connection), as the fuzzer's in-memory transport is.
  TNetIOHandler* ioHandler_ = nullptr;
  std::unique_ptr<TNetIOHandler> ownedHandler_;
};

}  // namespace net
