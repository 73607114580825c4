// TNetRequestHeaderInfo: request defaults and the request's header lines.
#include "http/TNetRequestHeaderInfo.h"

namespace net {

TNetRequestHeaderInfo::TNetRequestHeaderInfo() { resetRequestFields(); }

void TNetRequestHeaderInfo::ResetFields() {
  TNetEntityHeaderInfo::ResetFields();
  resetRequestFields();
}

void TNetRequestHeaderInfo::resetRequestFields() {
  Accept = kDefaultAccept;
  AcceptCharSet.clear();
  UserAgent = kDefaultUserAgent;
  BasicAuthentication = false;
  Range.clear();
}

void TNetRequestHeaderInfo::BuildHeaderLines() {
  TNetEntityHeaderInfo::BuildHeaderLines();
  TNetHeaderList& wire = WireHeaders();
  if (!ProxyConnection.empty()) wire.SetHeader(u"Proxy-Connection", ProxyConnection);
  if (!Host.empty()) wire.SetHeader(u"Host", Host);
  if (!Accept.empty()) wire.SetHeader(u"Accept", Accept);
  if (!AcceptCharSet.empty()) wire.SetHeader(u"Accept-Charset", AcceptCharSet);
  if (!AcceptEncoding.empty()) wire.SetHeader(u"Accept-Encoding", AcceptEncoding);
  if (!AcceptLanguage.empty()) wire.SetHeader(u"Accept-Language", AcceptLanguage);
  if (!From.empty()) wire.SetHeader(u"From", From);
  if (!Referer.empty()) wire.SetHeader(u"Referer", Referer);
  if (!UserAgent.empty()) wire.SetHeader(u"User-Agent", UserAgent);
  if (!Range.empty()) wire.SetHeader(u"Range", u"bytes=" + Range);
  if (LastModified > 0) wire.SetHeader(u"If-Modified-Since", internetDateText(LastModified));

  if (!authentication_ && BasicAuthentication) {
    auto basic = std::make_unique<TNetBasicAuthentication>();
    basic->Username = Username;
    basic->Password = Password;
    authentication_ = std::move(basic);
  }
  if (!authentication_) return;
  const std::u16string credentials = authentication_->Authentication();
  if (!credentials.empty()) wire.SetHeader(u"Authorization", credentials);
}

}  // namespace net
