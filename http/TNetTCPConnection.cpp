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

void TNetTCPConnection::CloseConnection(bool /*notifyPeer*/) {
  if (ioHandler_ == nullptr || !ioHandler_->Opened()) return;
  ReportStatus(TNetStatus::hsDisconnecting, u"Disconnecting.");
  ioHandler_->Close();
  if (OnDisconnected) OnDisconnected();
  ReportStatus(TNetStatus::hsDisconnected, u"Disconnected.");
}

bool TNetTCPConnection::IsConnected() { return ioHandler_ != nullptr && ioHandler_->Connected(); }

}  // namespace net
