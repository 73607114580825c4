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

  // Reads the header lines after the status line, at most HeaderLineLimit of them (0 or less =
  // no limit), and parses them into the response fields. A peer close while reading ends the
  // block (the connection is closed) without error. A block with more lines than the limit
  // raises ENetException "Too many header lines.".
  void ReadHeaderBlock();
  // The number after the first space of the status line; -1 when there is none. Also stored in
  // StatusCode.
  int ParseStatusCode();
  // Judges the response: reads the body into BodySink, or raises ENetHTTPProtocolException for a
  // response that is not accepted (any status other than 2xx, any redirect the client does not
  // follow, including a 2xx with "Location").
  TNetHTTPNextStep DecideNextStep();
  // Reads the body by chunks, by Content-Length or until the peer closes. `wait` > 0 first waits
  // that many ms for unexpected content and reads nothing when none came.
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

  TNetCustomHTTP& owner_;
  std::unique_ptr<TNetHTTPRequest> request_;
  std::unique_ptr<TNetHTTPResponse> response_;
};

}  // namespace net
