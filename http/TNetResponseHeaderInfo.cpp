// TNetResponseHeaderInfo: response defaults and the reading of received header lines.
#include "http/TNetResponseHeaderInfo.h"

namespace net {

TNetResponseHeaderInfo::TNetResponseHeaderInfo() { resetResponseFields(); }

void TNetResponseHeaderInfo::ResetFields() {
  TNetEntityHeaderInfo::ResetFields();
  resetResponseFields();
}

void TNetResponseHeaderInfo::resetResponseFields() {
  ContentType = kDefaultContentType;
  Location.clear();
  Server.clear();
  AcceptRanges.clear();
  wwwAuthenticate_.Clear();
  proxyAuthenticate_.Clear();
}

void TNetResponseHeaderInfo::ParseHeaderLines() {
  TNetEntityHeaderInfo::ParseHeaderLines();
  const TNetHeaderList& wire = WireHeaders();
  Location = wire.ValueOf(u"Location");
  Server = wire.ValueOf(u"Server");
  ProxyConnection = wire.ValueOf(u"Proxy-Connection");
  wwwAuthenticate_.Clear();
  wire.ExtractAll(u"WWW-Authenticate", wwwAuthenticate_);
  proxyAuthenticate_.Clear();
  wire.ExtractAll(u"Proxy-Authenticate", proxyAuthenticate_);
  AcceptRanges = wire.ValueOf(u"Accept-Ranges");
}

}  // namespace net
