// TNetAuthentication: the credentials object a request may own. It turns a user name and a
// password into the value of an "Authorization" header. Only the Basic scheme (RFC 7617) is
// built in; no exchange of this program engages it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace net {

class TNetAuthentication {
 public:
  virtual ~TNetAuthentication() = default;

  // The scheme name as it appears in "WWW-Authenticate" ("Basic").
  virtual std::u16string Scheme() const = 0;
  // The "Authorization" value for the current credentials; empty when there is nothing to send.
  virtual std::u16string Authentication() = 0;
  // Forgets any hand-shake state (called when an authorization attempt failed).
  virtual void Reset() {}

  std::u16string Username;
  std::u16string Password;
};

// "Basic " + base64 of the UTF-8 bytes of user name ":" password.
class TNetBasicAuthentication : public TNetAuthentication {
 public:
  std::u16string Scheme() const override { return u"Basic"; }
  std::u16string Authentication() override;
};

// A new credentials object for the scheme named in a "WWW-Authenticate" value (the word before
// its first space, case-insensitive); nullptr when no handler is registered for that scheme.
std::unique_ptr<TNetAuthentication> createAuthentication(std::u16string_view challenge);

}  // namespace net
