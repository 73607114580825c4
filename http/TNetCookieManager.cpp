// The simple cookie store.
#include "http/TNetCookieManager.h"

#include <algorithm>

#include "runtime/Text.h"

namespace net {
namespace {

// Splits "a; b; c" at ";" into trimmed parts.
std::vector<std::u16string> attributes(std::u16string_view text) {
  std::vector<std::u16string> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(u';', start), text.size());
    parts.push_back(rt::trim(text.substr(start, end - start)));
    start = end + 1;
  }
  return parts;
}

}  // namespace

void TNetCookieManager::AddServerCookie(std::u16string_view setCookieValue, std::u16string_view host) {
  const std::vector<std::u16string> parts = attributes(setCookieValue);
  if (parts.empty()) return;
  const std::size_t equals = parts[0].find(u'=');
  if (equals == std::u16string::npos) return;
  Cookie cookie {rt::lowerCase(host), rt::trim(std::u16string_view(parts[0]).substr(0, equals)),
                 rt::trim(std::u16string_view(parts[0]).substr(equals + 1))};
  if (cookie.name.empty()) return;
  bool expired = false;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::u16string_view attribute = parts[i];
    if (attribute.size() > 8 && rt::sameTextAscii(attribute.substr(0, 8), u"max-age=")) {
      const std::u16string_view age = attribute.substr(8);
      expired = !age.empty() && (age[0] == u'-' || age.find_first_not_of(u'0') == std::u16string_view::npos);
    }
  }
  auto same = [&](const Cookie& held) { return held.host == cookie.host && held.name == cookie.name; };
  cookies_.erase(std::remove_if(cookies_.begin(), cookies_.end(), same), cookies_.end());
  if (!expired) cookies_.push_back(std::move(cookie));
}

std::u16string TNetCookieManager::CookieHeader(std::u16string_view host) const {
  const std::u16string wanted = rt::lowerCase(host);
  std::u16string header;
  for (const Cookie& cookie : cookies_) {
    if (cookie.host != wanted) continue;
    if (!header.empty()) header += u"; ";
    header += cookie.name + u"=" + cookie.value;
  }
  return header;
}

}  // namespace net
