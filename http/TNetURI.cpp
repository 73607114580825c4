// TNetURI: URL splitting, composing and path merging.
#include "http/TNetURI.h"

#include "http/FormEncoding.h"
#include "http/NetExceptions.h"
#include "runtime/Text.h"

namespace net {
namespace {

constexpr auto npos = std::u16string::npos;

// Cuts the parameters off `work`: everything after the first "?", or when there is none, after
// the first "=". Returns the parameters (empty when there is no cut).
std::u16string cutParameters(std::u16string& work) {
  std::size_t cut = work.find(u'?');
  if (cut == npos) cut = work.find(u'=');
  if (cut == npos) return {};
  std::u16string parameters = work.substr(cut + 1);
  work.erase(cut);
  return parameters;
}

bool isDefaultPort(std::u16string_view scheme, std::u16string_view port) {
  if (rt::sameTextAscii(scheme, u"HTTP")) return port == u"80";
  if (rt::sameTextAscii(scheme, u"HTTPS")) return port == u"443";
  if (rt::sameTextAscii(scheme, u"FTP")) return port == u"21";
  return false;
}

}  // namespace

TNetURI::TNetURI(std::u16string_view url) {
  if (!url.empty()) ParseURL(url);
}

void TNetURI::ParseURL(std::u16string_view url) {
  // Backslashes are read as forward slashes ("http://h\dir\doc.php").
  FullText.assign(url);
  for (char16_t& c : FullText)
    if (c == u'\\') c = u'/';
  std::u16string work = FullText;

  Host.clear();
  Scheme.clear();
  Path.clear();
  Document.clear();
  Port.clear();
  Fragment.clear();
  Username.clear();
  Password.clear();
  Parameters.clear();
  AddressFamily = TNetIPVersion::Net_IPv4;

  const std::size_t schemeEnd = work.find(u"://");
  if (schemeEnd == npos) {
    // A relative reference: [path/]document[?parameters].
    Parameters = cutParameters(work);
    const std::size_t lastSlash = work.rfind(u'/');
    if (lastSlash != npos) {
      Path = work.substr(0, lastSlash + 1);
      work.erase(0, lastSlash + 1);
    }
  } else {
    Scheme = work.substr(0, schemeEnd);
    work.erase(0, schemeEnd + 3);
    Parameters = cutParameters(work);

    std::u16string authority;
    const std::size_t firstSlash = work.find(u'/');
    if (firstSlash == npos) {
      authority = std::move(work);
      work.clear();
    } else {
      authority = work.substr(0, firstSlash);
      work.erase(0, firstSlash + 1);
    }

    const std::size_t at = authority.find(u'@');
    if (at != npos) {
      const std::u16string credentials = authority.substr(0, at);
      authority.erase(0, at + 1);
      const std::size_t colon = credentials.find(u':');
      Username = credentials.substr(0, colon);
      if (colon != npos) Password = credentials.substr(colon + 1);
      if (Username.empty()) Password.clear();
    }

    const std::size_t open = authority.find(u'[');
    const std::size_t close = authority.find(u']');
    if (open != npos && close != npos && close > open) {
      // A bracketed IPv6 literal (RFC 3986 section 3.2.2).
      Host = authority.substr(open + 1, close - open - 1);
      const std::size_t colon = authority.find(u':', close + 1);
      if (colon != npos) Port = authority.substr(colon + 1);
      AddressFamily = TNetIPVersion::Net_IPv6;
    } else {
      const std::size_t colon = authority.find(u':');
      Host = authority.substr(0, colon);
      if (colon != npos) Port = authority.substr(colon + 1);
    }

    const std::size_t lastSlash = work.rfind(u'/');
    if (lastSlash != npos) {
      Path = u"/" + work.substr(0, lastSlash + 1);
      work.erase(0, lastSlash + 1);
    } else {
      Path = u"/";
    }
  }

  // The "#" search runs on what is left after the parameters were cut off.
  const std::size_t hash = work.find(u'#');
  Document = work.substr(0, hash);
  if (hash != npos) Fragment = work.substr(hash + 1);
}

std::u16string TNetURI::TargetText() const {
  std::u16string target = Path + Document;
  if (!Parameters.empty()) target += u"?" + Parameters;
  return target;
}

std::u16string TNetURI::ComposeURL(bool withCredentials, bool withFragment) const {
  if (Scheme.empty()) throw ENetURIException(u"Protocol field is empty");
  if (Host.empty()) throw ENetURIException(u"Host field is empty");

  std::u16string url = Scheme + u"://";
  if (withCredentials && !Username.empty()) {
    url += Username;
    if (!Password.empty()) url += u":" + Password;
    url += u'@';
  }
  url += Host;
  if (!Port.empty() && !isDefaultPort(Scheme, Port)) url += u":" + Port;
  url += TargetText();
  if (withFragment && !Fragment.empty()) url += u"#" + Fragment;
  return url;
}

std::u16string TNetURI::ShortURL() {
  FullText = ComposeURL(kWithCredentials, kWithFragment);
  return ComposeURL(kWithoutCredentials, kWithoutFragment);
}

std::u16string TNetURI::MergePath(std::u16string_view base, std::u16string_view path, char16_t delimiter) {
  if (!path.empty() && path.front() == delimiter) return std::u16string(path);

  const bool keepTrailing = path.empty() || path.back() == delimiter;
  std::u16string work(base);
  if (!work.empty() && work.back() != delimiter) work += delimiter;
  work += path;

  std::u16string result;
  for (std::size_t i = 0; i < work.size(); ++i) {
    const char16_t c = work[i];
    if (c == delimiter) {
      if (i == 0) {
        result.assign(1, delimiter);
      } else if (result.empty() || result.back() != delimiter) {
        result += delimiter;
      }
      continue;
    }
    const bool parentStep =
        c == u'.' && !result.empty() && result.back() == delimiter && i + 1 < work.size() && work[i + 1] == u'.';
    if (parentStep) {
      // "<delim>.." drops the segment before it (RFC 3986 section 5.2.4).
      result.pop_back();
      while (!result.empty() && result.back() != delimiter) result.pop_back();
      ++i;
      continue;
    }
    result += c;
  }

  const bool delimiterAlone = result.size() == 1 && result.front() == delimiter;
  if (!delimiterAlone && !result.empty() && result.back() == delimiter && !keepTrailing) result.pop_back();
  return result;
}

std::u16string TNetURI::EncodeParamValue(std::u16string_view value) { return net::EncodeParamValue(value); }

}  // namespace net
