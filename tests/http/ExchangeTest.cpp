// The HTTP exchange end to end against the scripted loopback server: the request as it goes on
// the wire, and how each kind of response is read and judged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "http/NetExceptions.h"
#include "http/TNetHTTP.h"
#include "platform/LocalTime.h"
#include "runtime/TStringStream.h"
#include "runtime/Text.h"
#include "tests/support/BytesStream.h"
#include "tests/support/ErrorMessage.h"
#include "tests/support/ScriptedServer.h"

using namespace net;
using testsupport::ScriptedServer;

namespace {

std::u16string u16url(const ScriptedServer& server, const std::string& path) { return rt::u16(server.url(path)); }

std::string hostOf(const ScriptedServer& server) { return "127.0.0.1:" + std::to_string(server.port()); }

// The head a fresh client writes for a POST, with the given content headers.
std::string freshPostHead(const std::string& target, const std::string& host, const std::string& contentHeaders) {
  return "POST " + target + " HTTP/1.0\r\n" + "Connection: keep-alive\r\n" + contentHeaders + "Host: " + host +
         "\r\n" + "Accept: text/html, */*\r\n" + "Accept-Encoding: identity\r\n" +
         "User-Agent: Mozilla/3.0 (compatible; Talvenook)\r\n\r\n";
}

// Plays one response to one POST and returns what the client stored; `error` gets the protocol
// error when one is raised.
struct Outcome {
  std::string body;
  bool raised = false;
  std::u16string message;
  int code = 0;
  std::u16string errorText;
  bool connectedAfter = false;
};

Outcome postAgainst(ScriptedServer::Script script, std::string bodySinkStart = "", long long readTimeout = 5000) {
  ScriptedServer server;
  server.addConnection(std::move(script));
  TNetHTTP http;
  http.ReadTimeout = readTimeout;
  testsupport::BytesStream sink(bodySinkStart);
  sink.Seek(0, rt::SeekOrigin::End);
  testsupport::BytesStream body("x=1");
  Outcome outcome;
  try {
    http.PostStream(u16url(server, "/p"), body, sink);
  } catch (const ENetHTTPProtocolException& error) {
    outcome.raised = true;
    outcome.message = error.Message();
    outcome.code = error.ErrorCode();
    outcome.errorText = error.ErrorMessage();
  }
  outcome.body = sink.DataString();
  outcome.connectedAfter = http.IsConnected();
  return outcome;
}

ScriptedServer::Script reply(const std::string& bytes) { return ScriptedServer::Script().readRequest().send(bytes); }

}  // namespace

// The existence query's form POST, byte for byte, from a fresh client.
TEST(TNetHTTPWireTest, FormPostIsWireExact) {
  ScriptedServer server;
  server.addConnection(reply("HTTP/1.1 200 OK\r\nContent-Length: 16\r\n\r\n{\"success\":true}"));
  TNetHTTP http;
  http.Request().ContentEncoding = u"UTF-8";
  rt::TStringList fields;
  fields.Add(u"&name=My App");
  fields.Add(u"version=1.2.3.4");
  rt::TStringStream reply;
  http.PostStrings(u16url(server, "/index.php?r=sw/exist"), fields, reply);

  const std::string body = "&name=My%20App&version=1.2.3.4";
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0],
            freshPostHead("/index.php?r=sw/exist", hostOf(server),
                          "Content-Encoding: UTF-8\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                          "Content-Length: " + std::to_string(body.size()) + "\r\n") +
                body);
  EXPECT_EQ(reply.DataString(), "{\"success\":true}");
  EXPECT_EQ(reply.Position(), 16);
  EXPECT_EQ(http.Response().StatusLine, u"HTTP/1.1 200 OK");
  EXPECT_EQ(http.Response().StatusCode, 200);
  // The server did not ask to keep the connection, so the client closed it.
  EXPECT_FALSE(http.IsConnected());
}

// A stream POST sends the whole stream from position 0 with its whole size, after a head in the
// header order; a client set to HTTP/1.1 still posts 1.0 unless told to keep its version.
TEST(TNetHTTPWireTest, StreamPostIsWireExact) {
  std::string payload;
  for (int i = 0; i < 70000; ++i) payload += static_cast<char>(i % 256);
  ScriptedServer server;
  server.addConnection(reply("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"));
  server.addConnection(reply("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
  TNetHTTP http;
  http.ProtocolVersion = TNetHTTPProtocolVersion::pv1_1;
  http.Request().ContentType = u"multipart/form-data; boundary=-----=_Part";
  http.Request().CustomHeaders().Add(u"X-Extra: 1");
  testsupport::BytesStream body(payload);
  body.Seek(1234, rt::SeekOrigin::Beginning);
  rt::TStringStream reply;
  http.PostStream(u16url(server, "/index.php?r=sw/upload"), body, reply);
  EXPECT_EQ(server.requests().at(0),
            freshPostHead("/index.php?r=sw/upload", hostOf(server),
                          "Content-Type: multipart/form-data; boundary=-----=_Part\r\nContent-Length: 70000\r\n"
                          "X-Extra: 1\r\n") +
                payload);
  EXPECT_EQ(http.ProtocolVersion, TNetHTTPProtocolVersion::pv1_1);  // restored after the POST

  // hoKeepOrigProtocol: the request line says 1.1 and (on a new client) no Connection is added.
  TNetHTTP keep;
  keep.HTTPOptions.Include(TNetHTTPOption::hoKeepOrigProtocol);
  testsupport::BytesStream small("abc");
  keep.PostStream(u16url(server, "/k"), small, reply);
  const std::string second = server.requests().at(1);
  EXPECT_EQ(second.substr(0, second.find("\r\n")), "POST /k HTTP/1.1");
  EXPECT_EQ(second.find("Connection:"), std::string::npos);
}

// A body whose reading fails part-way (it says 100 bytes, then gives `given` and no more): the
// head and whatever was read still reach the server before "No data to read." is raised, for a
// body that goes out in one send with the head and for one sent block by block after it.
TEST(TNetHTTPWireTest, BodyThatCannotBeReadStillSendsTheHead) {
  class ShortStream final : public rt::TStream {
   public:
    ShortStream(std::int64_t announced, std::string given) : announced_(announced), given_(std::move(given)) {}
    std::int64_t Read(void* buffer, std::int64_t count) override {
      const std::int64_t n = std::min<std::int64_t>(count, static_cast<std::int64_t>(given_.size()) - taken_);
      if (n <= 0) return 0;
      std::memcpy(buffer, given_.data() + taken_, static_cast<std::size_t>(n));
      taken_ += n;
      position_ += n;
      return n;
    }
    std::int64_t Write(const void*, std::int64_t) override { return 0; }
    std::int64_t Seek(std::int64_t offset, rt::SeekOrigin origin) override {
      position_ = origin == rt::SeekOrigin::Beginning ? offset
                  : origin == rt::SeekOrigin::Current ? position_ + offset
                                                      : announced_ + offset;
      return position_;
    }

   private:
    std::int64_t announced_, position_ = 0, taken_ = 0;
    std::string given_;
  };
  for (const std::int64_t announced : {std::int64_t {100}, std::int64_t {100000}}) {
    for (const std::string given : {"", "abcdefghij"}) {
      ScriptedServer server;
      server.addConnection(ScriptedServer::Script().readUntilClose());
      const std::u16string message = testsupport::messageOf<ENetException>([&] {
        TNetHTTP http;
        ShortStream body(announced, given);
        rt::TStringStream reply;
        http.PostStream(u16url(server, "/p"), body, reply);
      });
      EXPECT_EQ(message, u"No data to read.");
      ASSERT_TRUE(server.waitForFinished(1, 5000));
      EXPECT_EQ(server.received(0),
                freshPostHead("/p", hostOf(server),
                              "Content-Length: " + std::to_string(announced) + "\r\n") +
                    given)
          << announced << " " << given;
    }
  }
}

// Host with and without the port; URLs the client refuses before anything is sent.
TEST(TNetHTTPWireTest, HostHeaderAndRefusedUrls) {
  TNetHTTP http;
  auto hostFor = [&](const std::u16string& url) {
    http.Request().RequestTarget = url;
    http.ResolveTarget();
    return http.Request().Host;
  };
  EXPECT_EQ(hostFor(u"http://example.com/a"), u"example.com");
  EXPECT_EQ(hostFor(u"http://example.com:8080/a"), u"example.com:8080");
  EXPECT_EQ(hostFor(u"http://example.com:080/a"), u"example.com:080");
  EXPECT_EQ(hostFor(u"http://[::1]:8080/a"), u"[::1]:8080");

  ScriptedServer server;
  TNetHTTP fresh;
  testsupport::BytesStream body("a=b");
  rt::TStringStream sink;
  try {
    fresh.PostStream(u"https://127.0.0.1:" + rt::intToText(server.port()) + u"/", body, sink);
    ADD_FAILURE() << "https accepted";
  } catch (const ENetIOHandlerPropInvalid& error) {
    EXPECT_EQ(error.Message(), u"IOHandler value is not valid");
  }
  // PUT is accepted with HTTP/1.1 and refused with 1.0.
  server.addConnection(reply("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
  fresh.ExecuteRequest(u"PUT", u16url(server, "/"), &body, &sink);
  EXPECT_EQ(server.requests().at(0).substr(0, 15), "PUT / HTTP/1.1\r");
  fresh.ProtocolVersion = TNetHTTPProtocolVersion::pv1_0;
  try {
    fresh.ExecuteRequest(u"DELETE", u16url(server, "/"), nullptr, &sink);
    ADD_FAILURE() << "DELETE on 1.0 accepted";
  } catch (const ENetException& error) {
    EXPECT_EQ(error.Message(), u"Request method requires HTTP version 1.1");
  }
  TNetHTTP other;
  try {
    other.PostStream(u"ftp://127.0.0.1/x", body, sink);
    ADD_FAILURE() << "ftp accepted";
  } catch (const ENetUnknownProtocol& error) {
    EXPECT_EQ(error.Message(), u"Unknown Protocol");
  }
  EXPECT_THROW(other.PostStream(u16url(server, "/"), nullptr, &sink), EAssertionFailed);
  EXPECT_EQ(server.connections(), 1u);  // only the PUT got as far as connecting
}

// Bodies: Content-Length 0, close-delimited, chunked with extensions, after interim 100s.
TEST(TNetHTTPResponseTest, BodyForms) {
  Outcome empty = postAgainst(reply("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"), "old");
  EXPECT_FALSE(empty.raised);
  EXPECT_EQ(empty.body, "old");

  Outcome closeDelimited = postAgainst(reply("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nuntil the end"));
  EXPECT_EQ(closeDelimited.body, "until the end");
  EXPECT_FALSE(closeDelimited.connectedAfter);

  const std::string a(16, 'a'), b(5, 'b'), c(26, 'c');
  Outcome chunked = postAgainst(reply("HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n10\r\n" + a + "\r\n5;name=v\r\n" +
                                      b + "\r\n1a ext\r\n" + c + "\r\n0\r\n\r\n"));
  EXPECT_FALSE(chunked.raised);
  EXPECT_EQ(chunked.body, a + b + c);

  Outcome interim = postAgainst(reply("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 100 Continue\r\nX: y\r\n\r\n"
                                      "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
  EXPECT_FALSE(interim.raised);
  EXPECT_EQ(interim.body, "ok");
}

// Statuses that are not accepted raise the protocol error: message = status line, code, decoded
// error body; the caller's stream is never touched.
TEST(TNetHTTPResponseTest, RefusedStatuses) {
  Outcome notFound = postAgainst(
      reply("HTTP/1.1 404 Not Found\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: 9\r\n\r\nnot caf\xc3\xa9"),
      "keep");
  EXPECT_TRUE(notFound.raised);
  EXPECT_EQ(notFound.message, u"HTTP/1.1 404 Not Found");
  EXPECT_EQ(notFound.code, 404);
  EXPECT_EQ(notFound.errorText, u"not caf\u00e9");
  EXPECT_EQ(notFound.body, "keep");

  Outcome serverError = postAgainst(reply("HTTP/1.0 500 Internal Server Error\r\n\r\nbroken \xe9"));
  EXPECT_EQ(serverError.message, u"HTTP/1.0 500 Internal Server Error");
  EXPECT_EQ(serverError.code, 500);
  EXPECT_EQ(serverError.errorText, u"broken \u00e9");  // no charset: one character per byte

  Outcome redirect = postAgainst(reply("HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n"));
  EXPECT_EQ(redirect.message, u"HTTP/1.1 302 Found");
  EXPECT_EQ(redirect.code, 302);

  // Only a 3xx is a redirect: a 2xx naming a Location (201 Created does) is accepted.
  Outcome okWithLocation = postAgainst(reply("HTTP/1.1 200 OK\r\nLocation: /x\r\nContent-Length: 2\r\n\r\nok"));
  EXPECT_FALSE(okWithLocation.raised);
  EXPECT_EQ(okWithLocation.body, "ok");

  Outcome unauthorized = postAgainst(reply("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\n"
                                           "Content-Length: 0\r\n\r\n"));
  EXPECT_EQ(unauthorized.code, 401);

  Outcome noNumber = postAgainst(reply("HTTP/1.1 OK\r\nContent-Length: 0\r\n\r\n"));
  EXPECT_TRUE(noNumber.raised);
  EXPECT_EQ(noNumber.code, -1);
  EXPECT_EQ(noNumber.message, u"HTTP/1.1 OK");
}

// 304 and 1xx other than 100 fail after a short wait for a body, not after the read time-out:
// the peer then stays silent longer than the read time-out of kReadTimeout, so a call that ends
// before that did not wait for the time-out.
TEST(TNetHTTPResponseTest, NotModifiedAndInterimOtherThan100) {
  constexpr long long kReadTimeout = 30000;
  for (const char* status : {"HTTP/1.1 304 Not Modified", "HTTP/1.1 101 Switching Protocols"}) {
    const long long started = platform::tickCount();
    Outcome outcome = postAgainst(
        ScriptedServer::Script().readRequest().send(std::string(status) + "\r\n\r\n").delay(2 * kReadTimeout), "",
        kReadTimeout);
    EXPECT_TRUE(outcome.raised) << status;
    EXPECT_EQ(outcome.message, rt::u16(status));
    EXPECT_LT(platform::tickCount() - started, kReadTimeout) << status;
  }
}

// Peer closes: during the header block, during a body by length, during a chunked body: each
// is a failed exchange, never a completed one.
TEST(TNetHTTPResponseTest, PeerCloses) {
  {
    ScriptedServer server;
    server.addConnection(reply("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"));
    TNetHTTP http;
    testsupport::BytesStream body("b");
    rt::TStringStream sink;
    EXPECT_THROW(http.PostStream(u16url(server, "/"), body, sink), ENetConnClosedGracefully);
    EXPECT_EQ(sink.Size(), 0);
  }
  {
    std::string sent(50000, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>('a' + i % 26);
    ScriptedServer server;
    server.addConnection(
        ScriptedServer::Script().readRequest().send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n").delay(50).send(sent));
    TNetHTTP http;
    testsupport::BytesStream body("b");
    rt::TStringStream sink;
    EXPECT_THROW(http.PostStream(u16url(server, "/"), body, sink), ENetConnClosedGracefully);
    EXPECT_FALSE(http.IsConnected());
  }

  ScriptedServer server;
  server.addConnection(reply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\n0123456789"));
  TNetHTTP http;
  testsupport::BytesStream body("b");
  rt::TStringStream sink;
  EXPECT_THROW(http.PostStream(u16url(server, "/"), body, sink), ENetConnClosedGracefully);
  EXPECT_FALSE(http.IsConnected());
}

// Keep-alive verdicts: a POST (HTTP/1.0) keeps the connection only for "Connection: keep-alive";
// an HTTP/1.1 request keeps it unless "Connection: close"; a kept connection carries the next
// request, and a new POST always starts on a fresh connection.
TEST(TNetHTTPResponseTest, KeepAliveVerdicts) {
  EXPECT_TRUE(postAgainst(ScriptedServer::Script()
                              .readRequest()
                              .send("HTTP/1.1 200 OK\r\nConnection:  Keep-Alive \r\nContent-Length: 1\r\n\r\nk")
                              .delay(1000))
                  .connectedAfter);
  EXPECT_FALSE(postAgainst(ScriptedServer::Script()
                               .readRequest()
                               .send("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nk")
                               .delay(1000))
                   .connectedAfter);

  ScriptedServer server;
  server.addConnection(ScriptedServer::Script()
                           .readRequest()
                           .send("HTTP/1.1 200 OK\r\nContent-Length: 1\r\nSet-Cookie: sid=42; Path=/\r\n\r\n1")
                           .readRequest()
                           .send("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 1\r\n\r\n2"));
  server.addConnection(reply("HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Length: 1\r\n\r\n3").delay(1000));
  server.addConnection(reply("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n4"));
  TNetHTTP http;
  rt::TStringStream sink;
  http.ExecuteRequest(u"GET", u16url(server, "/one"), nullptr, &sink);
  EXPECT_TRUE(http.IsConnected());
  http.ExecuteRequest(u"GET", u16url(server, "/two"), nullptr, &sink);
  EXPECT_FALSE(http.IsConnected());
  EXPECT_EQ(sink.DataString(), "12");
  EXPECT_EQ(server.connections(), 1u);
  testsupport::BytesStream body("p");
  http.PostStream(u16url(server, "/three"), body, sink);
  EXPECT_TRUE(http.IsConnected());
  http.PostStream(u16url(server, "/four"), body, sink);  // disconnects first
  EXPECT_EQ(server.connections(), 3u);
  EXPECT_EQ(sink.DataString(), "1234");
  // The cookie set by the first response went back on the later requests, and only there.
  const std::vector<std::string> requests = server.requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].find("Cookie:"), std::string::npos);
  EXPECT_NE(requests[1].find("\r\nCookie: sid=42\r\n"), std::string::npos);
  EXPECT_NE(requests[3].find("\r\nCookie: sid=42\r\n"), std::string::npos);
}

// Lines: a 16385-byte header line is refused; so is a header block beyond the line limit.
TEST(TNetHTTPResponseTest, LineLimits) {
  ScriptedServer server;
  server.addConnection(reply("HTTP/1.1 200 OK\r\nX-Long: " + std::string(16385, 'l') + "\r\n\r\n"));
  TNetHTTP http;
  testsupport::BytesStream body("b");
  rt::TStringStream sink;
  try {
    http.PostStream(u16url(server, "/"), body, sink);
    ADD_FAILURE() << "long line accepted";
  } catch (const ENetReadLnMaxLineLengthExceeded& error) {
    EXPECT_EQ(error.Message(), u"Max line length exceeded.");
  }
  EXPECT_FALSE(http.IsConnected());

  // Exactly HeaderLineLimit lines are fine.
  std::string lines;
  for (int i = 0; i < 255; ++i) lines += "X-" + std::to_string(i) + ": v\r\n";
  Outcome full = postAgainst(reply("HTTP/1.1 200 OK\r\n" + lines + "\r\nbody"));
  EXPECT_FALSE(full.raised);
  EXPECT_EQ(full.body, "body");
}

// Hostile servers: an endless header block, a 2 GB Content-Length, an endless chunk-size line
// and a silent server end with an error or a bounded result, in bounded time and memory.
TEST(TNetHTTPResponseTest, HostileServers) {
  {
    ScriptedServer server;
    server.addConnection(ScriptedServer::Script().readRequest().send("HTTP/1.1 200 OK\r\n").sendForever("X-Junk: 1\r\n"));
    TNetHTTP http;
    testsupport::BytesStream body("b");
    rt::TStringStream sink;
    try {
      http.PostStream(u16url(server, "/"), body, sink);
      ADD_FAILURE() << "endless header block accepted";
    } catch (const ENetException& error) {
      EXPECT_EQ(error.Message(), u"Too many header lines.");
    }
    EXPECT_EQ(sink.Size(), 0);
  }
  {
    // The server announces 2 GB, sends a little, then stays silent: the read times out and the
    // client never reserved memory for the announced length.
    ScriptedServer server;
    server.addConnection(ScriptedServer::Script()
                             .readRequest()
                             .send("HTTP/1.1 200 OK\r\nContent-Length: 2000000000\r\n\r\n")
                             .send(std::string(100000, 'z'))
                             .delay(5000));
    TNetHTTP http;
    http.ReadTimeout = 300;
    testsupport::BytesStream body("b");
    rt::TStringStream sink;
    try {
      http.PostStream(u16url(server, "/"), body, sink);
      ADD_FAILURE() << "no time-out";
    } catch (const ENetReadTimeout& error) {
      EXPECT_EQ(error.Message(), u"Read timed out.");
    }
    EXPECT_LE(sink.Size(), 100000);
    EXPECT_LT(sink.Capacity(), 1 << 20);
  }
  {
    // The same announcement with a close: the body is incomplete, so the exchange fails.
    ScriptedServer server;
    server.addConnection(
        ScriptedServer::Script().readRequest().send("HTTP/1.1 200 OK\r\nContent-Length: 2000000000\r\n\r\nshort"));
    TNetHTTP http;
    testsupport::BytesStream body("b");
    rt::TStringStream sink;
    EXPECT_THROW(http.PostStream(u16url(server, "/"), body, sink), ENetConnClosedGracefully);
    EXPECT_LE(sink.Size(), 5);
  }
  {
    ScriptedServer server;
    server.addConnection(ScriptedServer::Script()
                             .readRequest()
                             .send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
                             .sendForever("ffffffff"));
    TNetHTTP http;
    testsupport::BytesStream body("b");
    rt::TStringStream sink;
    EXPECT_THROW(http.PostStream(u16url(server, "/"), body, sink), ENetReadLnMaxLineLengthExceeded);
  }
  {
    // A server that accepts and stays silent for kSilence: the read time-out ends the call long
    // before that.
    constexpr int kSilence = 30000;
    ScriptedServer server;
    server.addConnection(ScriptedServer::Script().readRequest().delay(kSilence));
    TNetHTTP http;
    http.ReadTimeout = 200;
    http.ConnectTimeout = 1000;
    testsupport::BytesStream body("b");
    rt::TStringStream sink;
    const long long started = platform::tickCount();
    EXPECT_THROW(http.PostStream(u16url(server, "/"), body, sink), ENetReadTimeout);
    EXPECT_LT(platform::tickCount() - started, kSilence);
  }
}

// What a fresh client never does on its own but the settings allow: following a redirect (the
// sink restarts at its old position), repeating a 401 with credentials, IPv6 endpoints; and the
// status reports of an exchange.
TEST(TNetHTTPExchangeTest, RedirectsAuthorizationIPv6AndStatus) {
  {
    ScriptedServer server;
    server.addConnection(reply("HTTP/1.1 302 Found\r\nLocation: /b?x=1\r\nContent-Length: 4\r\n\r\njunk"));
    server.addConnection(reply("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfinal"));
    TNetHTTP http;
    http.HandleRedirects = true;
    testsupport::BytesStream body("p=1");
    testsupport::BytesStream sink("prefix");
    sink.Seek(0, rt::SeekOrigin::End);
    http.PostStream(u16url(server, "/a/start"), body, sink);
    EXPECT_EQ(sink.DataString(), "prefixfinal");
    EXPECT_EQ(http.RedirectCount, 1);
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[1].substr(0, 22), "POST /b?x=1 HTTP/1.0\r\n");
    EXPECT_EQ(server.requests()[1].substr(server.requests()[1].size() - 3), "p=1");
  }
  {
    ScriptedServer server;
    server.addConnection(reply("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest x\r\n"
                               "WWW-Authenticate: Basic realm=\"r\"\r\nContent-Length: 0\r\n\r\n"));
    server.addConnection(reply("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nin"));
    TNetHTTP http;
    http.HTTPOptions.Include(TNetHTTPOption::hoInProcessAuth);
    http.Request().Username = u"user";
    http.Request().Password = u"pass";
    testsupport::BytesStream body("p=1");
    rt::TStringStream sink;
    http.PostStream(u16url(server, "/secret"), body, sink);
    EXPECT_EQ(sink.DataString(), "in");
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[0].find("Authorization:"), std::string::npos);
    EXPECT_NE(server.requests()[1].find("\r\nAuthorization: Basic dXNlcjpwYXNz\r\n"), std::string::npos);
  }
  {
    ScriptedServer server(ScriptedServer::Family::IPv6);
    server.addConnection(reply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nv6\r\n0\r\n\r\n"));
    TNetHTTP http;
    std::vector<std::u16string> reports;
    http.OnStatus = [&](TNetStatus, const std::u16string& text) { reports.push_back(text); };
    testsupport::BytesStream body("p=1");
    rt::TStringStream sink;
    http.PostStream(rt::u16(server.url("/six")), body, sink);
    EXPECT_EQ(sink.DataString(), "v6");
    EXPECT_NE(server.requests().at(0).find("\r\nHost: [::1]:" + std::to_string(server.port()) + "\r\n"), std::string::npos);
    // The server's close may be noticed first ("Disconnected." once more); the order holds.
    ASSERT_GE(reports.size(), 5u);
    const std::vector<std::u16string> opening {u"Connecting to ::1.", u"Connected.", u"Chunk Started"};
    EXPECT_EQ(std::vector<std::u16string>(reports.begin(), reports.begin() + 3), opening);
    EXPECT_EQ(reports[reports.size() - 2], u"Disconnecting.");
    EXPECT_EQ(reports.back(), u"Disconnected.");
  }
}
