// Credentials objects: the Basic scheme and the lookup of a scheme handler by challenge.
#include "http/TNetAuthentication.h"

#include <cstdint>
#include <string>

#include "runtime/Text.h"

namespace net {
namespace {

std::u16string base64(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::u16string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const std::uint32_t triple = (std::uint8_t(bytes[i]) << 16) | (std::uint8_t(bytes[i + 1]) << 8) | std::uint8_t(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) out += static_cast<char16_t>(kAlphabet[(triple >> shift) & 0x3F]);
  }
  const std::size_t rest = bytes.size() - i;
  if (rest == 0) return out;
  std::uint32_t triple = std::uint8_t(bytes[i]) << 16;
  if (rest == 2) triple |= std::uint8_t(bytes[i + 1]) << 8;
  out += static_cast<char16_t>(kAlphabet[(triple >> 18) & 0x3F]);
  out += static_cast<char16_t>(kAlphabet[(triple >> 12) & 0x3F]);
  out += rest == 2 ? static_cast<char16_t>(kAlphabet[(triple >> 6) & 0x3F]) : u'=';
  out += u'=';
  return out;
}

}  // namespace

std::u16string TNetBasicAuthentication::Authentication() {
  // RFC 7617 section 2: user-id ":" password, UTF-8, base64.
  return u"Basic " + base64(rt::toUtf8(Username + u":" + Password));
}

std::unique_ptr<TNetAuthentication> createAuthentication(std::u16string_view challenge) {
  const std::u16string_view scheme = challenge.substr(0, challenge.find(u' '));
  if (rt::sameTextAscii(scheme, u"Basic")) return std::make_unique<TNetBasicAuthentication>();
  return nullptr;
}

}  // namespace net
