// Address family of a connection.
#pragma once

namespace net {

enum class TNetIPVersion { Net_IPv4, Net_IPv6 };

}  // namespace net
