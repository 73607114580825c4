// The I/O handler over a TCP socket: binds, resolves, connects (optionally within a time
// limit) and moves bytes through the socket binding.
#pragma once

#include <string>

#include "http/TNetIOHandler.h"
#include "http/TNetIPVersion.h"
#include "http/TNetSocketHandle.h"

namespace net {

class TNetIOHandlerStack : public TNetIOHandler {
 public:
  TNetIOHandlerStack() = default;
  ~TNetIOHandlerStack() override;

  // Socket settings, copied from the client when it connects.
  std::u16string BoundIP;
  int BoundPort = 0;
  int BoundPortMin = 0;
  int BoundPortMax = 0;
  TNetIPVersion IPVersion = TNetIPVersion::Net_IPv4;
  bool ReuseSocket = false;
  bool UseNagle = true;

  TNetSocketHandle& Binding() { return binding_; }

 protected:
  bool SourceAllocated() const override { return binding_.HandleAllocated(); }
  void ConnectSource() override;
  bool SourceReadable(long long timeout) override;
  bool TargetWritable(long long timeout) override;
  std::optional<std::size_t> ReceiveFromSource(void* buffer, std::size_t count) override;
  std::optional<std::size_t> SendToTarget(const void* data, std::size_t count) override;
  void CloseSource() override { binding_.CloseSocket(); }

 private:
  TNetSocketHandle binding_;
};

}  // namespace net
