// The socket I/O handler: creates, binds and connects the socket (resolving the host first).
#include "http/TNetIOHandlerStack.h"

#include "http/NetExceptions.h"
#include "http/TNetStack.h"
#include "platform/Sockets.h"
#include "runtime/Text.h"

namespace net {

TNetIOHandlerStack::~TNetIOHandlerStack() { binding_.CloseSocket(); }

void TNetIOHandlerStack::ConnectSource() {
  binding_.Reset();
  if (Host.empty() || Port <= 0) return;
  binding_.SetIPVersion(IPVersion);
  binding_.AllocateSocket();
  if (ReuseSocket) binding_.SetReuseAddress(true);
  if (!BoundIP.empty() || BoundPort != 0 || BoundPortMin != 0 || BoundPortMax != 0) {
    binding_.Bind(BoundIP, BoundPort, BoundPortMin, BoundPortMax);
  }
  if (!UseNagle) binding_.SetNoDelay(true);

  const bool numeric = IPVersion == TNetIPVersion::Net_IPv4 ? TNetStack::IsDottedQuad(Host)
                                                            : platform::isIPv6Literal(rt::toUtf8(Host));
  if (!numeric) ReportStatus(TNetStatus::hsResolving, u"Resolving hostname " + Host + u".");
  const std::u16string address = TNetStack::ResolveAddress(Host, IPVersion);
  if (Port > 65535) raiseRangeError();
  ReportStatus(TNetStatus::hsConnecting, u"Connecting to " + address + u".");

  // A connect time-out of 0 means none; -1 means no limit either.
  bool cut = false;
  const long long limit = waitWithinDeadline(ConnectTimeout > 0 ? ConnectTimeout : -1, cut);
  if (!binding_.Connect(address, Port, limit)) {
    binding_.CloseSocket();
    throw ENetConnectTimeout(u"Connect timed out.");
  }
}

bool TNetIOHandlerStack::SourceReadable(long long timeout) {
  if (!binding_.HandleAllocated()) raiseConnClosedGracefully();
  return binding_.Readable(timeout);
}

bool TNetIOHandlerStack::TargetWritable(long long timeout) {
  if (!binding_.HandleAllocated()) raiseConnClosedGracefully();
  return binding_.Writable(timeout);
}

std::optional<std::size_t> TNetIOHandlerStack::ReceiveFromSource(void* buffer, std::size_t count) {
  return binding_.Receive(buffer, count);
}

std::optional<std::size_t> TNetIOHandlerStack::SendToTarget(const void* data, std::size_t count) {
  return binding_.Send(data, count);
}

}  // namespace net
