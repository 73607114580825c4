// The protocol object of a client: holds the request and the response, writes the request head,
// and reads and judges the response (header block, status, body, protocol error, keep-alive).
#pragma once

#include <memory>
#include <string>

#include "http/TNetHTTPRequest.h"
#include "http/TNetHTTPResponse.h"

namespace net {

class TNetCustomHTTP;

// What the exchange loop does after a response.
enum class TNetHTTPNextStep { nsFollow, nsFinish, nsRepeatWithAuth };

class TNetHTTPProtocol {
 public:
  explicit TNetHTTPProtocol(TNetCustomHTTP& owner);
  TNetHTTPProtocol(const TNetHTTPProtocol&) = delete;
  TNetHTTPProtocol& operator=(const TNetHTTPProtocol&) = delete;

  TNetHTTPRequest& Request() { return *request_; }
  TNetHTTPResponse& Response() { return *response_; }

  // Builds the header lines and sends request line, headers and the empty line in one send
  // (7-bit ASCII). On failure nothing queued is sent and the error is re-raised. With `send`
  // false the head is left in the handler's buffered write, for the caller to add the body to
  // and end.
  void SendRequestHead(bool send = true);

  // Reads the header lines after the status line and parses them into the response fields; the
  // block may hold HeaderLineLimit lines (0 or less = no limit) less `linesBefore`, the lines
  // interim replies used already. Returns the number of lines read. A block with more lines
  // raises ENetException "Too many header lines."; a peer close before the empty line that ends
  // the block raises ENetConnClosedGracefully (a head cut short is no reply).
  int ReadHeaderBlock(int linesBefore = 0);
  // The number after the first space of the status line; -1 when there is none. Also stored in
  // StatusCode.
  int ParseStatusCode();
  // Judges the response: reads the body into BodySink, or raises ENetHTTPProtocolException for a
  // response that is not accepted (any status other than 2xx, any redirect (3xx but 304) the
  // client does not follow). A "Location" on any other status is only a header.
  TNetHTTPNextStep DecideNextStep();
  // Reads the body by chunks, by Content-Length or until the peer closes. `wait` > 0 first waits
  // that many ms for unexpected content and reads nothing when none came. A body that ends before
  // its Content-Length raises ENetConnClosedGracefully; a malformed chunk size or chunk ending
  // raises ENetMalformedReply "Malformed chunked body."; a chunked body cut before its last chunk
  // raises ENetConnClosedGracefully; a body longer than the client's MaxReplySize raises
  // ENetReplyTooLarge "Reply too large.".
  void ReadBody(long long wait);
  // Reads the body into a private memory stream (not the caller's) and raises
  // ENetHTTPProtocolException: message = status line, code, decoded body.
  [[noreturn]] void RaiseProtocolError(int code, long long wait);
  // Reads the body and drops it.
  void DiscardBody(long long wait);
  // Whether the connection may stay open after this response (and stores it in
  // KeepConnection): open, and for an HTTP/1.0 request only with "Connection: keep-alive"; for
  // HTTP/1.1 unless "Connection: close".
  bool ComputeKeepAlive();

 private:
  bool authorize();
  // The chunks of a chunked body and its trailer section, up to the empty line that ends it.
  void readChunks(rt::TStream& sink);

  TNetCustomHTTP& owner_;
  std::unique_ptr<TNetHTTPRequest> request_;
  std::unique_ptr<TNetHTTPResponse> response_;
};

}  // namespace net
