// Writing the request head and reading the response of an HTTP/1.x exchange (RFC 9112).
#include "http/TNetHTTPProtocol.h"

#include <climits>
#include <limits>

#include "http/NetExceptions.h"
#include "http/TNetAuthentication.h"
#include "http/TNetCustomHTTP.h"
#include "http/TNetDiscardStream.h"
#include "http/TNetLimitedStream.h"
#include "runtime/Decimal.h"
#include "runtime/ScopeExit.h"
#include "runtime/TMemoryStream.h"
#include "runtime/Text.h"

namespace net {
namespace {

// The size on a chunk-size line (RFC 9112 section 7.1): hexadecimal digits up to the first space,
// tab or ";" (a chunk extension follows). -1 when the digits are missing or not hexadecimal, or
// too many to be a real size (more than 15 digits): such a body cannot be framed, so it is refused
// rather than read as ending there.
std::int64_t chunkSize(std::u16string_view line) {
  const std::size_t cut = line.find_first_of(u" ;\t");
  if (cut != std::u16string_view::npos) line = line.substr(0, cut);
  if (line.empty() || line.size() > 15) return -1;
  std::int64_t size = 0;
  for (char16_t c : line) {
    int digit = -1;
    if (c >= u'0' && c <= u'9') digit = c - u'0';
    if (c >= u'a' && c <= u'f') digit = c - u'a' + 10;
    if (c >= u'A' && c <= u'F') digit = c - u'A' + 10;
    if (digit < 0) return -1;
    size = size * 16 + digit;
  }
  return size;
}

// True when the "charset" parameter of a content type names UTF-8.
bool isUtf8Charset(std::u16string_view contentType) {
  std::size_t at = contentType.find(u';');
  while (at != std::u16string_view::npos) {
    const std::size_t next = contentType.find(u';', at + 1);
    const std::u16string_view parameter =
        contentType.substr(at + 1, next == std::u16string_view::npos ? std::u16string_view::npos : next - at - 1);
    const std::size_t equals = parameter.find(u'=');
    if (equals != std::u16string_view::npos && rt::sameTextAscii(rt::trim(parameter.substr(0, equals)), u"CHARSET")) {
      std::u16string value = rt::trim(parameter.substr(equals + 1));
      if (value.size() >= 2 && value.front() == u'"' && value.back() == u'"') value = value.substr(1, value.size() - 2);
      return rt::sameTextAscii(value, u"UTF-8") || rt::sameTextAscii(value, u"UTF8");
    }
    at = next;
  }
  return false;
}

// Points the response's body sink at `replacement` until the returned guard ends, also by an
// error.
auto swapSink(rt::TStream*& slot, rt::TStream* replacement) {
  rt::TStream* const saved = slot;
  slot = replacement;
  return rt::ScopeExit([&slot, saved] { slot = saved; });
}

}  // namespace

TNetHTTPProtocol::TNetHTTPProtocol(TNetCustomHTTP& owner)
    : owner_(owner),
      request_(std::make_unique<TNetHTTPRequest>()),
      response_(std::make_unique<TNetHTTPResponse>()) {}

void TNetHTTPProtocol::SendRequestHead(bool send) {
  TNetHTTPRequest& request = *request_;
  request.BuildHeaderLines();
  if (owner_.CookieManager() != nullptr) {
    const std::u16string cookies = owner_.CookieManager()->CookieHeader(owner_.CurrentURL().Host);
    if (!cookies.empty()) request.WireHeaders().SetHeader(u"Cookie", cookies);
  }
  TNetIOHandler& io = *owner_.IOHandler();
  io.BeginBufferedWrite(-1);
  try {
    io.WriteLine(request.RequestMethod + u" " + request.RequestTarget + u" HTTP/" +
                     TNetCustomHTTP::ProtocolVersionText(owner_.ProtocolVersion),
                 TNetTextEncoding::Ascii7);
    for (const std::u16string& line : request.WireHeaders()) {
      if (!line.empty()) io.WriteLine(line, TNetTextEncoding::Ascii7);
    }
    io.WriteLine(u"", TNetTextEncoding::Ascii7);
    if (send) io.EndBufferedWrite();
  } catch (...) {
    io.DiscardBufferedWrite();
    throw;
  }
}

int TNetHTTPProtocol::ReadHeaderBlock(int linesBefore) {
  TNetHTTPResponse& response = *response_;
  response.WireHeaders().Clear();
  const int limit = owner_.HeaderLineLimit;
  // RFC 9112 section 8: a head without its empty line is incomplete, whatever it holds so far;
  // the peer's close while reading it raises out of here like any other cut.
  std::u16string line = owner_.ReadResponseLine();
  int stored = 0;
  while (!line.empty() && (limit <= 0 || linesBefore + stored < limit)) {
    response.WireHeaders().Add(line);
    ++stored;
    line = owner_.ReadResponseLine();
  }
  // More header lines than the limit: the rest of the block would be taken for the body (and
  // an endless block read forever), so such a response is refused instead.
  if (!line.empty()) raiseTooManyHeaderLines();
  response.ParseHeaderLines();
  return stored;
}

int TNetHTTPProtocol::ParseStatusCode() {
  const std::u16string& statusLine = response_->StatusLine;
  const std::size_t space = statusLine.find(u' ');
  std::u16string rest = space == std::u16string::npos ? std::u16string() : rt::trim(statusLine.substr(space + 1));
  const std::size_t end = rest.find(u' ');
  if (end != std::u16string::npos) rest.resize(end);
  response_->StatusCode = static_cast<int>(rt::parseDecimal(rest, INT_MIN, INT_MAX, rt::Sign::Optional).value_or(-1));
  return response_->StatusCode;
}

bool TNetHTTPProtocol::authorize() {
  ++owner_.AuthRetryCount;
  TNetHTTPRequest& request = *request_;
  if (request.Authentication() == nullptr) {
    std::unique_ptr<TNetAuthentication> chosen;
    for (const std::u16string& challenge : response_->WWWAuthenticate()) {
      chosen = createAuthentication(challenge);
      if (chosen) break;
    }
    if (owner_.OnSelectAuthorization) owner_.OnSelectAuthorization(response_->WWWAuthenticate(), chosen);
    if (!chosen) return false;
    request.SetAuthentication(std::move(chosen));
  }
  bool handled = false;
  if (owner_.OnAuthorization) {
    handled = true;
    owner_.OnAuthorization(*request.Authentication(), handled);
  } else {
    handled = !rt::trim(request.Password).empty();
  }
  if (!handled) return false;
  request.Authentication()->Username = request.Username;
  request.Authentication()->Password = request.Password;
  return true;
}

TNetHTTPNextStep TNetHTTPProtocol::DecideNextStep() {
  TNetHTTPResponse& response = *response_;
  if (owner_.OnHeadersAvailable) {
    bool continueExchange = true;
    owner_.OnHeadersAvailable(response.WireHeaders(), continueExchange);
    if (!continueExchange) {
      response.KeepConnection = false;
      return TNetHTTPNextStep::nsFinish;
    }
  }
  const int code = ParseStatusCode();
  const int statusClass = code / 100;

  // A redirect (RFC 9110 section 15.4): any 3xx but 304. A Location on another status (201
  // Created names the new resource with it) does not make that reply a redirect.
  if (statusClass == 3 && code != 304) {
    ++owner_.RedirectCount;
    std::u16string location = response.Location;
    std::u16string method = request_->RequestMethod;
    bool handled = owner_.HandleRedirects;
    if (owner_.OnRedirect) owner_.OnRedirect(location, owner_.RedirectCount, handled, method);
    if (!handled) RaiseProtocolError(code, 0);
    TNetHTTPNextStep step = TNetHTTPNextStep::nsFinish;
    if (owner_.HandleRedirects && owner_.RedirectCount < owner_.RedirectMaximum) {
      request_->RequestTarget = location;
      request_->RequestMethod = method;
      step = TNetHTTPNextStep::nsFollow;
    } else {
      response.Location = location;
    }
    if (owner_.IsConnected()) DiscardBody(5000);
    return step;
  }

  bool needAuth = false;
  if (statusClass != 2) {
    if (code == 401 || code == 407) {
      // Proxy authorization shares the origin's hand-shake here: no proxy is ever configured.
      int& retries = code == 401 ? owner_.AuthRetryCount : owner_.ProxyAuthRetryCount;
      if (retries >= owner_.MaxAuthRetries || !authorize()) {
        if (request_->Authentication() != nullptr) request_->Authentication()->Reset();
        RaiseProtocolError(code, 0);
      }
      needAuth = owner_.HTTPOptions.Contains(TNetHTTPOption::hoInProcessAuth);
    } else if (statusClass == 1 || code == 304) {
      RaiseProtocolError(code, 100);
    } else {
      RaiseProtocolError(code, 0);
    }
  }
  if (needAuth) {
    DiscardBody(0);
    return TNetHTTPNextStep::nsRepeatWithAuth;
  }
  if (request_->RequestMethod == u"HEAD" || code == 204) {
    DiscardBody(100);
  } else {
    ReadBody(0);
  }
  return TNetHTTPNextStep::nsFinish;
}

void TNetHTTPProtocol::ReadBody(long long wait) {
  TNetHTTPResponse& response = *response_;
  if (response.BodySink == nullptr) return;
  const std::int64_t limit = owner_.MaxReplySize > 0 ? owner_.MaxReplySize : std::numeric_limits<std::int64_t>::max();
  TNetLimitedStream sink(*response.BodySink, limit);
  TNetIOHandler& io = *owner_.IOHandler();

  const std::u16string transferEncoding = rt::lowerCase(response.WireHeaders().ValueOf(u"Transfer-Encoding"));
  if (transferEncoding.find(u"chunked") != std::u16string::npos) {
    owner_.ReportStatus(TNetStatus::hsStatusText, u"Chunk Started");
    readChunks(sink);
    return;
  }
  // With a positive wait, a body is only read when some of it turns up within that time.
  auto nothingArrives = [&] {
    if (wait <= 0) return false;
    io.WaitForData(wait);
    return io.InputEmpty();
  };
  if (response.ContentLength() > 0) {
    if (nothingArrives()) return;
    // A body announced longer than the client keeps fails before any of it is read. (A HEAD
    // reply announces the length of a body it does not send; nothing arrives for it.)
    if (response.ContentLength() > limit) raiseReplyTooLarge();
    // RFC 9112 section 8: a body that ends before its announced length is incomplete; the close
    // raises out of here and the exchange fails.
    io.ReceiveToStream(sink, response.ContentLength(), kByCount);
    return;
  }
  if (!response.HasContentLength()) {
    if (nothingArrives()) return;
    io.ReceiveToStream(sink, -1, kUntilClose);
  }
}

void TNetHTTPProtocol::readChunks(rt::TStream& sink) {
  TNetIOHandler& io = *owner_.IOHandler();
  for (;;) {
    const std::int64_t size = chunkSize(owner_.ReadResponseLine());
    if (size < 0) raiseMalformedChunkedBody();
    if (size == 0) break;
    io.ReceiveToStream(sink, size, kByCount);
    // The chunk's data ends with its CRLF; anything else means the sizes do not frame the body.
    if (!owner_.ReadResponseLine().empty()) raiseMalformedChunkedBody();
  }
  // The trailer section (RFC 9112 section 7.1.2): fields up to an empty line, held to the same
  // line limit as a header block.
  const int limit = owner_.HeaderLineLimit;
  int lines = 0;
  while (!owner_.ReadResponseLine().empty()) {
    if (limit > 0 && ++lines >= limit) raiseTooManyHeaderLines();
  }
}

void TNetHTTPProtocol::RaiseProtocolError(int code, long long wait) {
  rt::TMemoryStream body;
  {
    const auto restore = swapSink(response_->BodySink, &body);
    ReadBody(wait);
  }
  const std::string_view bytes(reinterpret_cast<const char*>(body.Memory()), static_cast<std::size_t>(body.Size()));
  std::u16string text = isUtf8Charset(response_->ContentType) ? rt::fromUtf8(bytes) : rt::fromBytes8(bytes);
  throw ENetHTTPProtocolException(response_->StatusLine, code, std::move(text));
}

void TNetHTTPProtocol::DiscardBody(long long wait) {
  TNetDiscardStream discard;
  const auto restore = swapSink(response_->BodySink, &discard);
  ReadBody(wait);
}

bool TNetHTTPProtocol::ComputeKeepAlive() {
  TNetHTTPResponse& response = *response_;
  if (response.StatusLine.size() >= 8) {
    const std::u16string_view version = std::u16string_view(response.StatusLine).substr(5, 3);
    if (version == u"1.0") response.StatusVersion = 0;
    if (version == u"1.1") response.StatusVersion = 1;
  }
  if (owner_.IsConnected()) owner_.IOHandler()->CheckClosed(kNoRaiseIfClosed, kKeepQueuedInput);
  response.KeepConnection = owner_.IsConnected();
  if (!response.KeepConnection) return false;
  const std::u16string connection = rt::trim(response.Connection);
  const std::u16string proxyConnection = rt::trim(response.ProxyConnection);
  if (owner_.ProtocolVersion == TNetHTTPProtocolVersion::pv1_0) {
    response.KeepConnection =
        rt::sameTextAscii(connection, u"KEEP-ALIVE") || rt::sameTextAscii(proxyConnection, u"KEEP-ALIVE");
  } else {
    response.KeepConnection = !rt::sameTextAscii(connection, u"CLOSE") && !rt::sameTextAscii(proxyConnection, u"CLOSE");
  }
  return response.KeepConnection;
}

}  // namespace net
