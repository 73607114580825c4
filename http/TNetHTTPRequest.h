// The request of an exchange: the request header fields plus what the exchange loop needs to
// send it (target, method, body stream, connection mode, address family).
#pragma once

#include <cstdint>
#include <string>

#include "http/TNetIPVersion.h"
#include "http/TNetRequestHeaderInfo.h"
#include "runtime/TStream.h"

namespace net {

// How a request reaches its server; without a proxy and with a plain http URL always direct.
enum class TNetConnectionMode : std::uint8_t { cmDirect, cmTLSDirect, cmProxy, cmTLSProxy };

class TNetHTTPRequest : public TNetRequestHeaderInfo {
 public:
  // The URL handed to the exchange, replaced by the request target once it is resolved.
  std::u16string RequestTarget;
  std::u16string RequestMethod;
  // The body to send (not owned); none for a request without a body.
  rt::TStream* BodyStream = nullptr;
  TNetConnectionMode ConnectionMode = TNetConnectionMode::cmDirect;
  TNetIPVersion AddressFamily = TNetIPVersion::Net_IPv4;
};

}  // namespace net
