// The response of an exchange: the response header fields plus the status line and code, the
// keep-alive verdict, and the stream the body goes to.
#pragma once

#include <cstdint>
#include <string>

#include "http/TNetResponseHeaderInfo.h"
#include "runtime/TStream.h"

namespace net {

class TNetHTTPResponse : public TNetResponseHeaderInfo {
 public:
  int StatusCode = 0;
  // The status line exactly as received (without its line end).
  std::u16string StatusLine;
  bool KeepConnection = false;
  // Where the body goes (not owned); none = the body is not read.
  rt::TStream* BodySink = nullptr;
  // 0 for an "HTTP/1.0" status line, 1 for "HTTP/1.1".
  std::uint8_t StatusVersion = 0;
};

}  // namespace net
