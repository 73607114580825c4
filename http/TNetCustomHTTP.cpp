// The HTTP client: POST entry points, the exchange loop and the request side of an exchange.
#include "http/TNetCustomHTTP.h"

#include <climits>
#include <limits>

#include "http/FormEncoding.h"
#include "http/NetExceptions.h"
#include "http/TNetIOHandlerStack.h"
#include "platform/LocalTime.h"
#include "runtime/Decimal.h"
#include "runtime/ScopeExit.h"
#include "runtime/TMemoryStream.h"
#include "runtime/Text.h"

namespace net {
namespace {

bool isOneOf(std::u16string_view method, std::initializer_list<std::u16string_view> names) {
  for (std::u16string_view name : names) {
    if (rt::sameTextAscii(method, name)) return true;
  }
  return false;
}

// RFC 9110 section 15.2: every 1xx reply but 101 (a protocol switch) is interim, and the final
// reply follows it on the same connection.
bool isInterim(int code) { return code >= 100 && code <= 199 && code != 101; }

// The port text as a number; `fallback` when it is not one to ten decimal digits.
long long portNumber(std::u16string_view text, long long fallback) {
  if (text.size() > 10) return fallback;
  return rt::parseDecimal(text, 0, std::numeric_limits<std::int64_t>::max()).value_or(fallback);
}

}  // namespace

TNetCustomHTTP::TNetCustomHTTP()
    : currentURL_(std::make_unique<TNetURI>()), protocol_(std::make_unique<TNetHTTPProtocol>(*this)) {}

TNetCustomHTTP::~TNetCustomHTTP() {
  try {
    CloseConnection();
  } catch (...) {
  }
}

std::u16string TNetCustomHTTP::ProtocolVersionText(TNetHTTPProtocolVersion version) {
  return version == TNetHTTPProtocolVersion::pv1_0 ? u"1.0" : u"1.1";
}

void TNetCustomHTTP::PostStrings(std::u16string_view url, rt::TStringList* list, rt::TStream* sink) {
  if (list == nullptr || sink == nullptr) raiseAssertionFailed();
  if (Request().ContentType.empty() || rt::sameTextAscii(Request().ContentType, u"text/html")) {
    Request().ContentType = u"application/x-www-form-urlencoded";
  }
  const std::string bytes = rt::toAscii7(BuildFormText(*list, HTTPOptions));
  rt::TMemoryStream body;
  body.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  body.SetPosition(0);
  PostStream(url, &body, sink);
}

void TNetCustomHTTP::PostStream(std::u16string_view url, rt::TStream* body, rt::TStream* sink) {
  if (body == nullptr || sink == nullptr) raiseAssertionFailed();
  if (IsConnected()) CloseConnection();
  const rt::ScopeExit restore([this, saved = ProtocolVersion] { ProtocolVersion = saved; });
  if (!HTTPOptions.Contains(TNetHTTPOption::hoKeepOrigProtocol)) ProtocolVersion = TNetHTTPProtocolVersion::pv1_0;
  ExecuteRequest(u"POST", url, body, sink);
}

void TNetCustomHTTP::ExecuteRequest(std::u16string_view method, std::u16string_view url, rt::TStream* body,
                                    rt::TStream* sink) {
  RedirectCount = 0;
  AuthRetryCount = 0;
  ProxyAuthRetryCount = 0;
  std::int64_t start = 0;
  if (sink != nullptr) {
    start = sink->Position();
    if (start > INT_MAX) raiseRangeError();
  }
  TNetHTTPRequest& request = Request();
  TNetHTTPResponse& response = Response();
  request.RequestTarget = std::u16string(url);
  request.RequestMethod = std::u16string(method);
  request.BodyStream = body;
  response.BodySink = sink;
  Deadline = ExchangeTimeout > 0 ? platform::tickCount() + ExchangeTimeout : 0;
  if (IOHandler() != nullptr) IOHandler()->Deadline = Deadline;
  try {
    for (;;) {
      ResolveTarget();
      OpenAndSend();
      readFinalHead();
      const TNetHTTPNextStep step = protocol_->DecideNextStep();
      if (step == TNetHTTPNextStep::nsFinish) break;
      if (step == TNetHTTPNextStep::nsFollow) {
        if (sink != nullptr) {
          sink->SetPosition(start);
          sink->SetSize(start);
        }
        AuthRetryCount = 0;
        ProxyAuthRetryCount = 0;
      } else {
        request.RequestTarget = std::u16string(url);
      }
    }
  } catch (...) {
    finishExchange();
    throw;
  }
  finishExchange();
}

void TNetCustomHTTP::readFinalHead() {
  TNetHTTPResponse& response = Response();
  // Interim replies count against the header line limit with their status lines, so a peer
  // sending "100 Continue" without end is refused like an endless header block.
  int interimLines = 0;
  for (;;) {
    response.StatusLine = ReadResponseLine();
    const int stored = protocol_->ReadHeaderBlock(interimLines);
    processCookies();
    if (!isInterim(protocol_->ParseStatusCode())) return;
    interimLines += 1 + stored;
    if (HeaderLineLimit > 0 && interimLines >= HeaderLineLimit) raiseTooManyHeaderLines();
  }
}

void TNetCustomHTTP::finishExchange() {
  try {
    if (!protocol_->ComputeKeepAlive()) CloseConnection();
  } catch (...) {
    CloseConnection();
  }
  // The deadline belonged to this exchange; a kept connection waits without it until the next.
  Deadline = 0;
  if (IOHandler() != nullptr) IOHandler()->Deadline = 0;
}

std::u16string TNetCustomHTTP::ReadResponseLine() {
  TNetIOHandler* io = IOHandler();
  if (io == nullptr) raiseNotConnected();
  std::u16string line = io->ReadLine(TNetTextEncoding::Ascii7);
  if (io->ReadLnTimedOut()) raiseReadTimeout();
  return line;
}

void TNetCustomHTTP::processCookies() {
  if (!cookieManager_ && AllowCookies) cookieManager_ = std::make_unique<TNetCookieManager>();
  if (!cookieManager_) return;
  const TNetHeaderList& headers = Response().WireHeaders();
  for (int i = 0; i < headers.Count(); ++i) {
    const std::u16string name = headers.NameAt(i);
    if (rt::sameTextAscii(name, u"Set-cookie") || rt::sameTextAscii(name, u"Set-cookie2")) {
      cookieManager_->AddServerCookie(headers.ValueAt(i), CurrentURL().Host);
    }
  }
}

void TNetCustomHTTP::ResolveTarget() {
  TNetHTTPRequest& request = Request();
  TNetURI& current = CurrentURL();
  TNetURI target;
  target.ParseURL(request.RequestTarget);

  if (!target.Username.empty()) {
    request.Username = target.Username;
    request.Password = target.Password;
  }
  current.Username = request.Username;
  current.Password = request.Password;

  current.Path = TNetURI::MergePath(current.Path, target.Path, u'/');
  current.Document = target.Document;
  current.Parameters = target.Parameters;
  if (!target.Host.empty()) current.Host = target.Host;

  if (!target.Scheme.empty()) {
    current.Scheme = target.Scheme;
  } else {
    current.Scheme = rt::sameTextAscii(current.Scheme, u"https") ? u"https" : u"http";
  }

  if (!target.Port.empty()) {
    current.Port = target.Port;
  } else if (rt::sameTextAscii(target.Scheme, u"http")) {
    current.Port = u"80";
  } else if (rt::sameTextAscii(target.Scheme, u"https")) {
    current.Port = u"443";
  } else if (current.Port.empty()) {
    throw ENetUnknownProtocol(u"Unknown Protocol");
  }

  request.RequestTarget = current.TargetText();
  if (rt::sameTextAscii(request.RequestMethod, u"OPTIONS") && target.Document == u"*") request.RequestTarget = u"*";

  request.AddressFamily = target.AddressFamily;
  current.AddressFamily = target.AddressFamily;

  if (isOneOf(request.RequestMethod, {u"TRACE", u"PUT", u"OPTIONS", u"DELETE"}) &&
      ProtocolVersion != TNetHTTPProtocolVersion::pv1_1) {
    throw ENetException(u"Request method requires HTTP version 1.1");
  }

  request.SetContentLength(request.BodyStream != nullptr ? request.BodyStream->Size() : -1);

  // RFC 9112 section 3.2: an IPv6 literal goes in brackets, or its colons would read as a port.
  std::u16string host = current.Host;
  if (current.AddressFamily == TNetIPVersion::Net_IPv6 && host.find(u':') != std::u16string::npos) {
    host = u"[" + host + u"]";
  }
  if (current.Port != u"80") host += u":" + current.Port;
  request.Host = host;
}

TNetConnectionMode TNetCustomHTTP::SelectEndpoint() {
  TNetURI& current = CurrentURL();
  if (auto* stack = dynamic_cast<TNetIOHandlerStack*>(IOHandler())) {
    if (stack->Binding().HandleAllocated() && stack->Binding().IPVersion() != current.AddressFamily && IsConnected()) {
      CloseConnection();
    }
  }
  const std::u16string host = current.Host;
  const long long port = portNumber(current.Port, 80);
  if ((!rt::sameTextAscii(Host, host) || Port != port) && IsConnected()) CloseConnection();
  // No TLS-capable handler exists in this client, so https can never be served.
  if (rt::sameTextAscii(current.Scheme, u"HTTPS")) throw ENetIOHandlerPropInvalid(u"IOHandler value is not valid");
  if (port > 65535) raiseRangeError();
  Host = host;
  Port = static_cast<int>(port);
  return TNetConnectionMode::cmDirect;
}

void TNetCustomHTTP::OpenAndSend() {
  TNetHTTPRequest& request = Request();
  request.ConnectionMode = SelectEndpoint();
  if (ProtocolVersion == TNetHTTPProtocolVersion::pv1_0 && request.Connection.empty()) request.Connection = u"keep-alive";
  if (rt::lowerCase(request.AcceptEncoding).find(u"identity") == std::u16string::npos) {
    request.AcceptEncoding = request.AcceptEncoding.empty() ? u"identity" : request.AcceptEncoding + u", identity";
  }
  ensureConnected();
  // A body that fits one send block goes out in the same send as the head: the same bytes in
  // fewer segments, with no small write waiting behind the head. Should reading the body fail,
  // what was queued (the head, and any part of the body read) is still sent before the error
  // goes on, as when head and body were sent one after the other.
  TNetIOHandler& io = *IOHandler();
  const bool together = request.BodyStream != nullptr && request.BodyStream->Size() <= io.SendBufferSize;
  protocol_->SendRequestHead(!together);
  if (!together) {
    if (request.BodyStream != nullptr) io.SendStream(*request.BodyStream, 0);
    return;
  }
  try {
    io.SendStream(*request.BodyStream, 0);
  } catch (...) {
    io.EndBufferedWrite();
    throw;
  }
  io.EndBufferedWrite();
}

void TNetCustomHTTP::ensureConnected() {
  if (!protocol_->ComputeKeepAlive()) CloseConnection();
  if (IOHandler() != nullptr) IOHandler()->CheckClosed(kNoRaiseIfClosed, kKeepQueuedInput);
  if (!IsConnected()) {
    IPVersion = CurrentURL().AddressFamily;
    OpenConnection();
  }
}

}  // namespace net
