// The client's cookie store, kept simple (RFC 6265 in its host-only form): a cookie set by a
// response is sent back on later requests of the same client to the same host. Domain and path
// attributes are not widened or narrowed; "Max-Age=0" (or a negative one) removes a cookie.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace net {

class TNetCookieManager {
 public:
  // Stores the cookie of one "Set-Cookie" / "Set-Cookie2" value received from `host`.
  void AddServerCookie(std::u16string_view setCookieValue, std::u16string_view host);
  // The "Cookie" header value for a request to `host` ("a=1; b=2"); empty when none is held.
  std::u16string CookieHeader(std::u16string_view host) const;

 private:
  struct Cookie {
    std::u16string host;  // lower case
    std::u16string name;
    std::u16string value;
  };
  std::vector<Cookie> cookies_;
};

}  // namespace net
