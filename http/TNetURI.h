// TNetURI: splits a URL text into scheme, credentials, host, port, path, document, parameters and
// fragment, and puts the parts back together. The HTTP client parses every URL it is handed into
// one of these, merges it into the URL it keeps between exchanges, and takes the request target
// and the Host header from the result.
//
// The parser accepts every text and rejects none; parts it cannot find stay empty. Nothing is
// percent-decoded or percent-encoded here (user names, passwords and hosts keep any "%" escapes).
#pragma once

#include <string>
#include <string_view>

#include "http/TNetIPVersion.h"

namespace net {

class TNetURI {
 public:
  // An empty URL object (every part empty, IPv4).
  TNetURI() = default;
  // An empty URL object that then parses `url` when it is not empty.
  explicit TNetURI(std::u16string_view url);

  // Replaces every part with those of `url`. Backslashes count as forward slashes. Parameters are
  // cut at the first "?" (or, when there is none, at the first "="), before the path is split, so
  // a "#" inside the parameters stays there. A host in "[" "]" is taken without its brackets and
  // makes the address family IPv6. An absolute URL always gets a path (at least "/").
  void ParseURL(std::u16string_view url);

  // Path + document, then "?" + parameters when there are any: the request target. No escaping.
  std::u16string TargetText() const;

  // scheme "://" [user [":" password] "@"] host [":" port] TargetText ["#" fragment].
  // The port is left out when it is the scheme's default ("80" for http, "443" for https, "21"
  // for ftp; scheme compared case-insensitively, port as exact text). An IPv6 host is written
  // without brackets.
  // Throws ENetURIException "Protocol field is empty" / "Host field is empty".
  std::u16string ComposeURL(bool withCredentials, bool withFragment) const;
  // ComposeURL's flags by name: ComposeURL(kWithCredentials, kWithoutFragment).
  static constexpr bool kWithCredentials = true;
  static constexpr bool kWithoutCredentials = false;
  static constexpr bool kWithFragment = true;
  static constexpr bool kWithoutFragment = false;

  // Stores ComposeURL(true, true) as FullText and returns ComposeURL(false, false).
  std::u16string ShortURL();

  // Resolves `path` against `base`: a path that starts with `delimiter` replaces the base;
  // otherwise base and path are joined with one delimiter, runs of delimiters collapse, and each
  // "<delim>.." removes the segment before it ("." segments stay). A trailing delimiter survives
  // only when `path` is empty or ends with one (or the result is the delimiter alone).
  static std::u16string MergePath(std::u16string_view base, std::u16string_view path,
                                  char16_t delimiter = u'/');

  // The parameter-value encoding of form bodies; the same operation as the free function
  // net::EncodeParamValue of FormEncoding.h (throws EEncodingError on a lone surrogate).
  static std::u16string EncodeParamValue(std::u16string_view value);

  // The parts. All empty after creation; FullText is the URL as last parsed (after the slash
  // normalisation) or as last stored by ShortURL. The port is text; callers convert it.
  std::u16string FullText;
  std::u16string Scheme;
  std::u16string Host;
  std::u16string Port;
  std::u16string Path;
  std::u16string Document;
  std::u16string Parameters;
  std::u16string Fragment;
  std::u16string Username;
  std::u16string Password;
  TNetIPVersion AddressFamily = TNetIPVersion::Net_IPv4;
};

}  // namespace net
