// TNetResponseHeaderInfo: the header fields of a response, read from its received header lines.
#pragma once

#include <string>

#include "http/TNetEntityHeaderInfo.h"
#include "http/TNetHeaderList.h"

namespace net {

class TNetResponseHeaderInfo : public TNetEntityHeaderInfo {
 public:
  static constexpr char16_t kDefaultContentType[] = u"text/html";

  // Runs ResetFields: ContentType starts as "text/html".
  TNetResponseHeaderInfo();

  // The entity reset, then ContentType := "text/html"; Location, Server and AcceptRanges
  // emptied; both authenticate lists emptied.
  void ResetFields() override;

  // The entity fields (ContentType becomes empty when the line is missing), then Location,
  // Server, Proxy-Connection and Accept-Ranges from the first line of each name, and the values of
  // every "WWW-Authenticate" and "Proxy-Authenticate" line into the two lists (replacing them).
  void ParseHeaderLines() override;

  // Values of all "WWW-Authenticate" / "Proxy-Authenticate" lines, in received order.
  TNetHeaderList& WWWAuthenticate() { return wwwAuthenticate_; }
  const TNetHeaderList& WWWAuthenticate() const { return wwwAuthenticate_; }
  TNetHeaderList& ProxyAuthenticate() { return proxyAuthenticate_; }
  const TNetHeaderList& ProxyAuthenticate() const { return proxyAuthenticate_; }

  std::u16string AcceptRanges;
  std::u16string Location;
  std::u16string Server;
  std::u16string ProxyConnection;

 private:
  void resetResponseFields();

  TNetHeaderList proxyAuthenticate_;
  TNetHeaderList wwwAuthenticate_;
};

}  // namespace net
