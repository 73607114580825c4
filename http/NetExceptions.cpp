// The raising functions of the client's errors that are detected at more than one place.
#include "http/NetExceptions.h"

namespace net {

void raiseNotConnected() { throw ENetNotConnected(u"Not Connected"); }
void raiseConnClosedGracefully() { throw ENetConnClosedGracefully(u"Connection Closed Gracefully."); }
void raiseReadTimeout() { throw ENetReadTimeout(u"Read timed out."); }
void raiseExchangeTimeout() { throw ENetExchangeTimeout(u"Exchange timed out."); }
void raiseTooManyHeaderLines() { throw ENetException(u"Too many header lines."); }
void raiseMalformedChunkedBody() { throw ENetMalformedReply(u"Malformed chunked body."); }
void raiseReplyTooLarge() { throw ENetReplyTooLarge(u"Reply too large."); }
void raiseAssertionFailed() { throw EAssertionFailed(u"Assertion failure"); }
void raiseRangeError() { throw ERangeError(u"Range check error"); }

}  // namespace net
