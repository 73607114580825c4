// OpenConnection: create or reuse the handler, hand it the settings, open it.
#include "http/TNetTCPClientCustom.h"

#include "http/NetExceptions.h"
#include "http/TNetIOHandlerStack.h"

namespace net {

void TNetTCPClientCustom::OpenConnection() {
  if (IsConnected()) throw ENetAlreadyConnected(u"Already connected.");
  if (Host.empty()) throw ENetHostRequired(u"A host is required");
  if (Port == 0) throw ENetPortRequired(u"A port is required");

  if (ioHandler_ == nullptr) {
    ownedHandler_ = std::make_unique<TNetIOHandlerStack>();
    ioHandler_ = ownedHandler_.get();
  }
  ioHandler_->OnStatus = [this](TNetStatus status, const std::u16string& text) { ReportStatus(status, text); };
  ioHandler_->Host = Host;
  ioHandler_->Port = Port;
  ioHandler_->ConnectTimeout = ConnectTimeout;
  ioHandler_->ReadTimeout = ReadTimeout;
  ioHandler_->Deadline = Deadline;
  if (auto* stack = dynamic_cast<TNetIOHandlerStack*>(ioHandler_)) {
    stack->BoundIP = BoundIP;
    stack->BoundPort = BoundPort;
    stack->BoundPortMin = BoundPortMin;
    stack->BoundPortMax = BoundPortMax;
    stack->IPVersion = IPVersion;
    stack->ReuseSocket = ReuseSocket;
  }
  try {
    ioHandler_->Open();
    ReportStatus(TNetStatus::hsConnected, u"Connected.");
    if (OnConnected) OnConnected();
  } catch (...) {
    ioHandler_->Close();
    if (ownedHandler_) {
      ioHandler_ = nullptr;
      ownedHandler_.reset();
    }
    throw;
  }
}

}  // namespace net
