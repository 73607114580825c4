// TNetRequestHeaderInfo: the header fields of a request, and how they become the request's
// header lines.
#pragma once

#include <memory>
#include <string>

#include "http/TNetAuthentication.h"
#include "http/TNetEntityHeaderInfo.h"

namespace net {

class TNetRequestHeaderInfo : public TNetEntityHeaderInfo {
 public:
  static constexpr char16_t kDefaultAccept[] = u"text/html, */*";
  static constexpr char16_t kDefaultUserAgent[] = u"Mozilla/3.0 (compatible; Talvenook)";

  // Runs ResetFields (Accept and UserAgent get their defaults, ContentLength -1).
  TNetRequestHeaderInfo();

  // The entity reset, then Accept := "text/html, */*", AcceptCharSet := "",
  // UserAgent := "Mozilla/3.0 (compatible; Talvenook)", BasicAuthentication := false,
  // Range := "". Other request texts (Host, AcceptEncoding, Username, ...) stay.
  void ResetFields() override;

  // The entity rows (see TNetEntityHeaderInfo), then, each only when it has a value:
  // Proxy-Connection, Host, Accept, Accept-Charset, Accept-Encoding, Accept-Language, From,
  // Referer, User-Agent, Range ("bytes=" + Range), If-Modified-Since, Authorization. A custom line
  // with one of these names has its value replaced in place. Authorization comes from the
  // credentials object; when there is none and BasicAuthentication is set, a Basic one is created
  // from Username and Password.
  void BuildHeaderLines() override;

  // The credentials object (none by default).
  TNetAuthentication* Authentication() const { return authentication_.get(); }
  void SetAuthentication(std::unique_ptr<TNetAuthentication> authentication) {
    authentication_ = std::move(authentication);
  }

  std::u16string Accept;
  std::u16string AcceptCharSet;
  std::u16string AcceptEncoding;
  std::u16string AcceptLanguage;
  std::u16string From;
  std::u16string Password;
  std::u16string Referer;
  std::u16string UserAgent;
  std::u16string Username;
  std::u16string Host;
  std::u16string ProxyConnection;
  std::u16string Range;
  bool BasicAuthentication = false;

 private:
  void resetRequestFields();

  std::unique_ptr<TNetAuthentication> authentication_;
};

}  // namespace net
