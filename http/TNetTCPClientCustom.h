// A TCP client: where to connect and how long to wait, and OpenConnection.
#pragma once

#include <functional>
#include <string>

#include "http/TNetIPVersion.h"
#include "http/TNetTCPConnection.h"

namespace net {

class TNetTCPClientCustom : public TNetTCPConnection {
 public:
  std::u16string Host;
  int Port = 0;
  TNetIPVersion IPVersion = TNetIPVersion::Net_IPv4;
  // Milliseconds the connect may take; 0 = no limit (the platform's own).
  long long ConnectTimeout = 0;
  // Milliseconds a read waits for data; -1 (or 0) = no limit.
  long long ReadTimeout = -1;
  // The moment (platform::tickCount, ms) by which the current exchange must be over; 0 = none.
  // Handed to the I/O handler with the other settings.
  long long Deadline = 0;
  std::u16string BoundIP;
  int BoundPort = 0;
  int BoundPortMin = 0;
  int BoundPortMax = 0;
  bool ReuseSocket = false;
  std::function<void()> OnConnected;

  // Connects to Host:Port. Raises ENetAlreadyConnected "Already connected." when connected,
  // ENetHostRequired / ENetPortRequired without host or port, and whatever resolving and
  // connecting raise (socket errors, "Connect timed out."). Without an I/O handler a socket
  // handler is created and owned; after a failure it is closed and, when owned, freed.
  void OpenConnection();
};

}  // namespace net
