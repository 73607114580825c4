// The HTTP client's errors, and the functions that raise those thrown from more than one place
// (each message is written once). The network family derives from ENetException; the two
// caller-side errors at the end (EAssertionFailed, ERangeError) derive from the runtime's common
// base directly. Everything here derives from rt::Exception, which is what callers that turn
// failures into `false` catch.
#pragma once

#include <string>

#include "runtime/Exception.h"

namespace net {

class ENetException : public rt::Exception {
  using rt::Exception::Exception;
};

#define TALVENOOK_NET_ERROR(Name, Base) \
  class Name : public Base {            \
    using Base::Base;                   \
  };

// Connection and I/O handler.
TALVENOOK_NET_ERROR(ENetAlreadyConnected, ENetException)
TALVENOOK_NET_ERROR(ENetHostRequired, ENetException)
TALVENOOK_NET_ERROR(ENetPortRequired, ENetException)
TALVENOOK_NET_ERROR(ENetNotConnected, ENetException)
TALVENOOK_NET_ERROR(ENetConnClosedGracefully, ENetException)
TALVENOOK_NET_ERROR(ENetReadTimeout, ENetException)
// The whole exchange outlasted its deadline (a peer trickling bytes, or replying without end).
TALVENOOK_NET_ERROR(ENetExchangeTimeout, ENetReadTimeout)
TALVENOOK_NET_ERROR(ENetConnectTimeout, ENetException)
TALVENOOK_NET_ERROR(ENetNoDataToRead, ENetException)
TALVENOOK_NET_ERROR(ENetReadLnMaxLineLengthExceeded, ENetException)
TALVENOOK_NET_ERROR(ENetTooMuchDataInBuffer, ENetException)
TALVENOOK_NET_ERROR(ENetNotEnoughDataInBuffer, ENetException)
TALVENOOK_NET_ERROR(ENetIOHandlerPropInvalid, ENetException)
TALVENOOK_NET_ERROR(ENetIOHandlerRequiresLargeStream, ENetException)
TALVENOOK_NET_ERROR(ENetCouldNotBindSocket, ENetException)
TALVENOOK_NET_ERROR(ENetCanNotBindPortInRange, ENetException)
TALVENOOK_NET_ERROR(ENetCannotSetIPVersionWhenConnected, ENetException)

// URLs and protocol.
TALVENOOK_NET_ERROR(ENetURIException, ENetException)
TALVENOOK_NET_ERROR(ENetUnknownProtocol, ENetException)
// A reply that breaks its own framing (a malformed chunk size, chunk data longer than announced).
TALVENOOK_NET_ERROR(ENetMalformedReply, ENetException)
// A reply larger than the client agreed to keep.
TALVENOOK_NET_ERROR(ENetReplyTooLarge, ENetException)

#undef TALVENOOK_NET_ERROR

// A failed socket call: carries the (Winsock-numbered) error code.
class ENetSocketError : public ENetException {
 public:
  ENetSocketError(int code, std::u16string message) : ENetException(std::move(message)), code_(code) {}
  int LastError() const { return code_; }

 private:
  int code_;
};

// Socket error 10038: the handle is not a socket (it was closed under the call).
class ENetNotASocket : public ENetSocketError {
  using ENetSocketError::ENetSocketError;
};

// A response the client does not accept: the message is the status line as received.
class ENetHTTPProtocolException : public ENetException {
 public:
  ENetHTTPProtocolException(std::u16string statusLine, int code, std::u16string errorText)
      : ENetException(std::move(statusLine)), code_(code), errorText_(std::move(errorText)) {}
  int ErrorCode() const { return code_; }
  const std::u16string& ErrorMessage() const { return errorText_; }

 private:
  int code_;
  std::u16string errorText_;
};

// A violated precondition of a caller ("Assertion failure"), e.g. a POST without a body stream.
class EAssertionFailed : public rt::Exception {
  using rt::Exception::Exception;
};

// A value outside the range its destination can hold ("Range check error").
class ERangeError : public rt::Exception {
  using rt::Exception::Exception;
};

// Raise the failures detected at several places, each with its one fixed message.
[[noreturn]] void raiseNotConnected();            // ENetNotConnected "Not Connected"
[[noreturn]] void raiseConnClosedGracefully();    // ENetConnClosedGracefully "Connection Closed Gracefully."
[[noreturn]] void raiseReadTimeout();             // ENetReadTimeout "Read timed out."
[[noreturn]] void raiseExchangeTimeout();         // ENetExchangeTimeout "Exchange timed out."
[[noreturn]] void raiseTooManyHeaderLines();      // ENetException "Too many header lines."
[[noreturn]] void raiseMalformedChunkedBody();    // ENetMalformedReply "Malformed chunked body."
[[noreturn]] void raiseReplyTooLarge();           // ENetReplyTooLarge "Reply too large."
[[noreturn]] void raiseAssertionFailed();         // EAssertionFailed "Assertion failure"
[[noreturn]] void raiseRangeError();              // ERangeError "Range check error"

}  // namespace net
