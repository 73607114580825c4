// A TCP connection and its handler's lifetime.
#include "http/TNetTCPConnection.h"

namespace net {

TNetTCPConnection::~TNetTCPConnection() {
  if (ioHandler_ == nullptr) return;
  try {
    ioHandler_->Close();
  } catch (...) {
  }
  // A borrowed handler outlives us: it must not report to this connection any more.
  ioHandler_->OnStatus = nullptr;
}

void TNetTCPConnection::SetIOHandler(TNetIOHandler* handler) {
  if (ioHandler_ == handler) return;
  if (ioHandler_ != nullptr && ioHandler_->Opened()) ioHandler_->Close();
  if (ioHandler_ != nullptr) ioHandler_->OnStatus = nullptr;
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
