// The socket layer: socket error messages and name resolution, shared by every socket of the
// HTTP client. The operating-system calls themselves are behind platform/Sockets.h.
#pragma once

#include <string>

#include "http/TNetIPVersion.h"

namespace net {

class TNetStack {
 public:
  // The description of a Windows-sockets error number ("Connection refused." for 10061);
  // empty for numbers not in the table.
  static std::u16string ErrorDescription(int code);
  // "Socket Error # <code>\r\n<description>".
  static std::u16string ErrorMessage(int code);
  // Raises ENetSocketError (ENetNotASocket for 10038) for `code`.
  [[noreturn]] static void RaiseSocketError(int code);
  // Raises the socket error for `code` unless it is 0.
  static void Check(int code) {
    if (code != 0) RaiseSocketError(code);
  }

  // True for four decimal numbers 0..255 joined by "." (no signs, no blanks, no empty parts).
  static bool IsDottedQuad(std::u16string_view text);
  // The address text to connect to: for IPv4 "localhost" (any case) gives "127.0.0.1" and a
  // dotted quad is used unchanged; for IPv6 a numeric address is used unchanged; anything else
  // is looked up and the first address of the result returned. A failed lookup raises the socket
  // error for its code (11001 "Host not found." for an unknown name).
  static std::u16string ResolveAddress(std::u16string_view host, TNetIPVersion version);
};

}  // namespace net
