// The HTTP/1.x client: its settings and defaults, the POST entry points and the exchange loop.
//
//   net::TNetHTTP http;                      // fresh client: no time-outs, no cookies yet
//   http.ConnectTimeout = 15000;             // optional, milliseconds
//   http.ReadTimeout = 60000;                // optional, milliseconds
//   http.ExchangeTimeout = 120000;           // optional, milliseconds for the whole exchange
//   http.MaxReplySize = 1 << 20;             // optional, bytes of reply body kept
//   http.Request().ContentEncoding = u"UTF-8";
//   rt::TStringStream reply;
//   http.PostStrings(u"http://host/index.php?r=sw/exist", fields, reply);  // or PostStream
//   // reply holds the body; rewind it before reading it back.
//
// Every call blocks. A response that is not accepted raises ENetHTTPProtocolException (message
// = the status line); transport failures raise the ENet... errors of the connection layer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "http/TNetAuthentication.h"
#include "http/TNetCookieManager.h"
#include "http/TNetHTTPOptions.h"
#include "http/TNetHTTPProtocol.h"
#include "http/TNetHeaderList.h"
#include "http/TNetTCPClientCustom.h"
#include "http/TNetURI.h"
#include "runtime/TStream.h"
#include "runtime/TStringList.h"

namespace net {

enum class TNetHTTPProtocolVersion : std::uint8_t { pv1_0 = 0, pv1_1 = 1 };

// Proxy settings (never used by this program: a fresh client has none).
struct TNetProxyConnectionInfo {
  std::u16string ProxyServer;
  int ProxyPort = 0;
  std::u16string ProxyUsername;
  std::u16string ProxyPassword;
};

class TNetCustomHTTP : public TNetTCPClientCustom {
 public:
  TNetCustomHTTP();
  ~TNetCustomHTTP() override;

  // "1.0" / "1.1".
  static std::u16string ProtocolVersionText(TNetHTTPProtocolVersion version);

  // POSTs `list` as an "application/x-www-form-urlencoded" body (BuildFormText with
  // HTTPOptions, written as 7-bit ASCII); the body of the reply is written into `sink` at its
  // position. Sets Request().ContentType to the form type when it is empty or "text/html". A
  // null list or sink raises EAssertionFailed "Assertion failure" before anything is sent.
  void PostStrings(std::u16string_view url, rt::TStringList* list, rt::TStream* sink);
  void PostStrings(std::u16string_view url, rt::TStringList& list, rt::TStream& sink) { PostStrings(url, &list, &sink); }
  // POSTs the whole of `body` (from position 0) on a fresh connection, as HTTP/1.0 unless
  // hoKeepOrigProtocol is set. Same sink and assertion rules as PostStrings.
  void PostStream(std::u16string_view url, rt::TStream* body, rt::TStream* sink);
  void PostStream(std::u16string_view url, rt::TStream& body, rt::TStream& sink) { PostStream(url, &body, &sink); }
  // One exchange, with redirects and authorization repeats as the settings allow. `body` and
  // `sink` may be null. The connection is closed at the end unless it may be kept.
  void ExecuteRequest(std::u16string_view method, std::u16string_view url, rt::TStream* body, rt::TStream* sink);

  TNetHTTPRequest& Request() { return protocol_->Request(); }
  TNetHTTPResponse& Response() { return protocol_->Response(); }
  // The URL of the last exchange (base for relative URLs).
  TNetURI& CurrentURL() { return *currentURL_; }
  // The cookie store; none until an exchange with AllowCookies makes one.
  TNetCookieManager* CookieManager() const { return cookieManager_.get(); }
  TNetProxyConnectionInfo& ProxyParams() { return proxyParams_; }

  // Counters of the current exchange.
  int AuthRetryCount = 0;
  int ProxyAuthRetryCount = 0;
  int RedirectCount = 0;
  // Settings, with the defaults of a fresh client.
  int MaxAuthRetries = 3;
  int HeaderLineLimit = 255;
  bool AllowCookies = true;
  TNetHTTPProtocolVersion ProtocolVersion = TNetHTTPProtocolVersion::pv1_1;
  int RedirectMaximum = 15;
  bool HandleRedirects = false;
  // Milliseconds the whole of one ExecuteRequest may take, connect to last byte, redirects and
  // repeats included; 0 = no limit. Raises ENetExchangeTimeout "Exchange timed out." (or "Connect
  // timed out.") when it passes, however the peer trickles or floods its bytes.
  long long ExchangeTimeout = 0;
  // Most bytes of reply body (the caller's or an error reply's) one exchange keeps; 0 = no limit.
  // A longer body raises ENetReplyTooLarge "Reply too large." as soon as it is known to be longer.
  std::int64_t MaxReplySize = 0;
  TNetHTTPOptions HTTPOptions {TNetHTTPOption::hoForceEncodeParams};

  // Hooks, all unset in a fresh client.
  // The received header lines; clearing the flag ends the exchange without reading the body.
  std::function<void(TNetHeaderList& headers, bool& continueExchange)> OnHeadersAvailable;
  // A redirect to `location` (the count-th); may change location, handled and method.
  std::function<void(std::u16string& location, int count, bool& handled, std::u16string& method)> OnRedirect;
  // May replace the credentials object chosen for a 401's challenges.
  std::function<void(TNetHeaderList& challenges, std::unique_ptr<TNetAuthentication>& chosen)> OnSelectAuthorization;
  // Supplies credentials for a 401; clearing `handled` gives up.
  std::function<void(TNetAuthentication& authentication, bool& handled)> OnAuthorization;

  // The steps of an exchange, in the order ExecuteRequest runs them.
  // Merges the request target into CurrentURL and sets ContentLength and Host.
  void ResolveTarget();
  // Chooses host and port from CurrentURL (disconnecting from a different endpoint); an https
  // URL raises ENetIOHandlerPropInvalid "IOHandler value is not valid".
  TNetConnectionMode SelectEndpoint();
  // Connects when needed and sends the request head and body.
  void OpenAndSend();

 private:
  friend class TNetHTTPProtocol;
  void ensureConnected();
  void processCookies();
  // Reads status lines and header blocks until the final (not interim) reply's head.
  void readFinalHead();
  void finishExchange();
  // A response line (7-bit ASCII); a read time-out raises ENetReadTimeout "Read timed out.".
  std::u16string ReadResponseLine();

  std::unique_ptr<TNetURI> currentURL_;
  std::unique_ptr<TNetHTTPProtocol> protocol_;
  TNetProxyConnectionInfo proxyParams_;
  std::unique_ptr<TNetCookieManager> cookieManager_;
};

}  // namespace net
