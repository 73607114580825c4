// Progress reports of the connection and the exchange, with their fixed texts.
#pragma once

#include <functional>
#include <string>

namespace net {

enum class TNetStatus { hsResolving, hsConnecting, hsConnected, hsDisconnecting, hsDisconnected, hsStatusText };

// Receives a status and its text ("Connecting to 127.0.0.1.", "Chunk Started", ...).
using TNetStatusEvent = std::function<void(TNetStatus, const std::u16string&)>;

}  // namespace net
