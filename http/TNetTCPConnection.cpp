// A TCP connection and its handler's lifetime.
#include "http/TNetTCPConnection.h"

namespace net {

TNetTCPConnection::~TNetTCPConnection() {
  try {
    if (ioHandler_ != nullptr) ioHandler_->Close();
  } catch (...) {
  }
}

void TNetTCPConnection::SetIOHandler(TNetIOHandler* handler) {
  if (ioHandler_ == handler) return;
  if (ioHandler_ != nullptr && ioHandler_->Opened()) ioHandler_->Close();
  ownedHandler_.reset();
  ioHandler_ = handler;
}

void TNetTCPConnection::CloseConnection(bool /*notifyPeer*/) {
  if (ioHandler_ == nullptr || !ioHandler_->Opened()) return;
  ReportStatus(TNetStatus::hsDisconnecting, u"Disconnecting.");
  ioHandler_->Close();
  if (OnDisconnected) OnDisconnected();
  ReportStatus(TNetStatus::hsDisconnected, u"Disconnected.");
}

bool TNetTCPConnection::IsConnected() { return ioHandler_ != nullptr && ioHandler_->Connected(); }

}  // namespace net
