// The socket layer: the Windows-sockets error table and host name resolution.
#include "http/TNetStack.h"

#include "http/NetExceptions.h"
#include "platform/Sockets.h"
#include "runtime/Decimal.h"
#include "runtime/Text.h"

namespace net {
namespace {

struct ErrorText {
  int code;
  const char16_t* text;
};

constexpr ErrorText kErrorTexts[] = {
    {10004, u"Interrupted system call."},
    {10009, u"Bad file number."},
    {10013, u"Access denied."},
    {10014, u"Buffer fault."},
    {10022, u"Invalid argument."},
    {10024, u"Too many open files."},
    {10035, u"Operation would block."},
    {10036, u"Operation now in progress."},
    {10037, u"Operation already in progress."},
    {10038, u"Socket operation on non-socket."},
    {10039, u"Destination address required."},
    {10040, u"Message too long."},
    {10041, u"Protocol wrong type for socket."},
    {10042, u"Bad protocol option."},
    {10043, u"Protocol not supported."},
    {10044, u"Socket type not supported."},
    {10045, u"Operation not supported on socket."},
    {10046, u"Protocol family not supported."},
    {10047, u"Address family not supported by protocol family."},
    {10048, u"Address already in use."},
    {10049, u"Cannot assign requested address."},
    {10050, u"Network is down."},
    {10051, u"Network is unreachable."},
    {10052, u"Net dropped connection or reset."},
    {10053, u"Software caused connection abort."},
    {10054, u"Connection reset by peer."},
    {10055, u"No buffer space available."},
    {10056, u"Socket is already connected."},
    {10057, u"Socket is not connected."},
    {10058, u"Cannot send or receive after socket is closed."},
    {10059, u"Too many references, cannot splice."},
    {10060, u"Connection timed out."},
    {10061, u"Connection refused."},
    {10062, u"Too many levels of symbolic links."},
    {10063, u"File name too long."},
    {10064, u"Host is down."},
    {10065, u"No route to host."},
    {10066, u"Directory not empty"},
    {11001, u"Host not found."},
};

}  // namespace

std::u16string TNetStack::ErrorDescription(int code) {
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.code == code) return entry.text;
  }
  return {};
}

std::u16string TNetStack::ErrorMessage(int code) {
  return u"Socket Error # " + rt::intToText(code) + u"\r\n" + ErrorDescription(code);
}

void TNetStack::RaiseSocketError(int code) {
  if (code == platform::kSocketErrorNotSocket) throw ENetNotASocket(code, ErrorMessage(code));
  throw ENetSocketError(code, ErrorMessage(code));
}

bool TNetStack::IsDottedQuad(std::u16string_view text) {
  // Four parts of one to three digits, each at most 255, between three dots.
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = part < 3 ? text.find(u'.') : text.size();
    if (dot == std::u16string_view::npos) return false;
    const std::u16string_view digits = text.substr(0, dot);
    if (digits.size() > 3 || !rt::parseDecimal(digits, 0, 255)) return false;
    text.remove_prefix(part < 3 ? dot + 1 : dot);
  }
  return true;
}

std::u16string TNetStack::ResolveAddress(std::u16string_view host, TNetIPVersion version) {
  const std::string name = rt::toUtf8(host);
  if (version == TNetIPVersion::Net_IPv6) {
    if (platform::isIPv6Literal(name)) return std::u16string(host);
  } else {
    if (rt::sameTextAscii(host, u"LOCALHOST")) return u"127.0.0.1";
    if (IsDottedQuad(host)) return std::u16string(host);
  }
  std::string address;
  Check(platform::resolveHostName(
      name, version == TNetIPVersion::Net_IPv6 ? platform::SocketFamily::IPv6 : platform::SocketFamily::IPv4,
      address));
  return rt::fromUtf8(address);
}

}  // namespace net
