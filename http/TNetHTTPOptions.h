// The HTTP client's option set. A fresh client holds { hoForceEncodeParams }.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace net {

enum class TNetHTTPOption : std::uint8_t {
  hoInProcessAuth = 1,      // repeat a 401/407 exchange with credentials inside the same call
  hoKeepOrigProtocol = 2,   // POST with the client's ProtocolVersion instead of HTTP/1.0
  hoForceEncodeParams = 4,  // percent-encode the values of a form body
};

class TNetHTTPOptions {
 public:
  constexpr TNetHTTPOptions() = default;
  constexpr TNetHTTPOptions(std::initializer_list<TNetHTTPOption> options) {
    for (TNetHTTPOption option : options) Include(option);
  }

  constexpr bool Contains(TNetHTTPOption option) const { return (bits_ & static_cast<std::uint8_t>(option)) != 0; }
  constexpr void Include(TNetHTTPOption option) { bits_ |= static_cast<std::uint8_t>(option); }

 private:
  std::uint8_t bits_ = 0;
};

}  // namespace net
