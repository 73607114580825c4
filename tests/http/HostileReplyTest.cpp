// Replies from a hostile or broken peer, each played by the scripted loopback server: trickled and
// endless replies end at the exchange deadline or the header line limit, oversized bodies end at
// the reply limit, and a reply cut short or mis-framed is a failed exchange, never a completed one.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

#include "http/NetExceptions.h"
#include "http/TNetHTTP.h"
#include "runtime/TStringStream.h"
#include "runtime/Text.h"
#include "tests/support/BytesStream.h"
#include "tests/support/ScriptedServer.h"

using namespace net;
using testsupport::ScriptedServer;

namespace {

// The script's steps after the request: `piece` sent `times` times, `gap` ms apart.
ScriptedServer::Script trickle(std::string head, const std::string& piece, int times, int gap) {
  ScriptedServer::Script script;
  script.readRequest().send(std::move(head));
  for (int i = 0; i < times; ++i) script.delay(gap).send(piece);
  return script;
}

struct Exchange {
  ScriptedServer server;
  TNetHTTP http;
  rt::TStringStream sink;

  explicit Exchange(ScriptedServer::Script script) {
    server.addConnection(std::move(script));
    http.ReadTimeout = 5000;
  }
  // POSTs a small body; the reply body lands in `sink`.
  void post() {
    testsupport::BytesStream body("b");
    http.PostStream(rt::u16(server.url("/p")), body, sink);
  }
};

}  // namespace

// A peer that keeps every single wait short of the read time-out, in the head or in the body, is
// cut off by the deadline of the whole exchange.
TEST(HostileReplyTest, TrickleEndsAtTheExchangeDeadline) {
  {
    Exchange head(trickle("HTTP/1.1 200 OK\r\n", "X-Slow: 1\r\n", 100, 50));
    head.http.ReadTimeout = 2000;
    head.http.ExchangeTimeout = 400;
    EXPECT_THROW(head.post(), ENetExchangeTimeout);
  }
  {
    Exchange body(trickle("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n", "z", 100, 50));
    body.http.ReadTimeout = 2000;
    body.http.ExchangeTimeout = 400;
    EXPECT_THROW(body.post(), ENetExchangeTimeout);
    EXPECT_LT(body.sink.Size(), 100);
  }
  {
    // A peer that floods without pause: the deadline holds even though data is always waiting.
    Exchange flood(ScriptedServer::Script().readRequest().send("HTTP/1.1 200 OK\r\n\r\n").sendForever(std::string(4096, 'f')));
    flood.http.ExchangeTimeout = 300;
    EXPECT_THROW(flood.post(), ENetExchangeTimeout);
  }
  {
    // A reply within the deadline is read as ever.
    Exchange late(ScriptedServer::Script().readRequest().send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
    late.http.ExchangeTimeout = 400;
    late.post();
    EXPECT_EQ(late.sink.DataString(), "ok");
  }
}

// A peer that takes the connection but never reads: once the system's send buffers are full, the
// upload waits for room, and that wait ends at the exchange deadline like every read does.
TEST(HostileReplyTest, PeerThatStopsReadingEndsAtTheDeadline) {
  std::atomic<bool> released {false};
  Exchange stalled(ScriptedServer::Script().delayUntil(released, 20000));
  stalled.http.ExchangeTimeout = 400;
  testsupport::BytesStream body(std::string(64 << 20, 'u'));  // far more than loopback buffers hold
  const auto started = std::chrono::steady_clock::now();
  EXPECT_THROW(stalled.http.PostStream(rt::u16(stalled.server.url("/p")), body, stalled.sink), ENetExchangeTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  released = true;
}

// Interim replies: endless "100 Continue" runs into the header line limit (or, with no limit,
// into the deadline); 103 Early Hints and other 1xx before the final reply are skipped; 201
// Created with a Location is a success, not a redirect.
TEST(HostileReplyTest, InterimRepliesAndLocation) {
  {
    Exchange endless(ScriptedServer::Script().readRequest().sendForever("HTTP/1.1 100 Continue\r\n\r\n"));
    try {
      endless.post();
      ADD_FAILURE() << "endless interim replies accepted";
    } catch (const ENetException& error) {
      EXPECT_EQ(error.Message(), u"Too many header lines.");
    }
  }
  {
    Exchange unlimited(ScriptedServer::Script().readRequest().sendForever("HTTP/1.1 100 Continue\r\nX: y\r\n\r\n"));
    unlimited.http.HeaderLineLimit = 0;
    unlimited.http.ExchangeTimeout = 300;
    EXPECT_THROW(unlimited.post(), ENetExchangeTimeout);
  }
  {
    Exchange hints(ScriptedServer::Script().readRequest().send(
        "HTTP/1.1 103 Early Hints\r\nLink: </style.css>; rel=preload\r\n\r\n"
        "HTTP/1.1 102 Processing\r\n\r\n"
        "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
    EXPECT_NO_THROW(hints.post());
    EXPECT_EQ(hints.sink.DataString(), "ok");
    EXPECT_EQ(hints.http.Response().StatusCode, 200);
  }
  {
    Exchange created(ScriptedServer::Script().readRequest().send(
        "HTTP/1.1 201 Created\r\nLocation: /icons/7\r\nContent-Length: 16\r\n\r\n{\"success\":true}"));
    EXPECT_NO_THROW(created.post());
    EXPECT_EQ(created.sink.DataString(), "{\"success\":true}");
  }
  {
    // 101 is no interim reply: the exchange fails on it, as before.
    Exchange switching(ScriptedServer::Script().readRequest().send("HTTP/1.1 101 Switching Protocols\r\n\r\n"));
    EXPECT_THROW(switching.post(), ENetHTTPProtocolException);
  }
}

// A body longer than MaxReplySize fails the exchange, whether announced, chunked or read until
// the close, and no more than the limit is ever stored; a body of exactly the limit is kept.
TEST(HostileReplyTest, ReplyLimit) {
  constexpr std::int64_t kLimit = 1000;
  {
    Exchange announced(ScriptedServer::Script().readRequest().send("HTTP/1.1 200 OK\r\nContent-Length: 1001\r\n\r\n").sendFill(1001));
    announced.http.MaxReplySize = kLimit;
    EXPECT_THROW(announced.post(), ENetReplyTooLarge);
    EXPECT_EQ(announced.sink.Size(), 0);
  }
  {
    std::string chunks;
    for (int i = 0; i < 4; ++i) chunks += "1f4\r\n" + std::string(500, 'c') + "\r\n";
    Exchange chunked(ScriptedServer::Script().readRequest().send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunks + "0\r\n\r\n"));
    chunked.http.MaxReplySize = kLimit;
    EXPECT_THROW(chunked.post(), ENetReplyTooLarge);
    EXPECT_LE(chunked.sink.Size(), kLimit);
  }
  {
    Exchange untilClose(ScriptedServer::Script().readRequest().send("HTTP/1.0 200 OK\r\n\r\n").sendFill(50'000'000));
    untilClose.http.MaxReplySize = kLimit;
    EXPECT_THROW(untilClose.post(), ENetReplyTooLarge);
    EXPECT_LE(untilClose.sink.Size(), kLimit);
  }
  {
    // An error reply's body is held to the same limit.
    Exchange error(ScriptedServer::Script().readRequest().send("HTTP/1.0 500 Oops\r\n\r\n").sendFill(50'000'000));
    error.http.MaxReplySize = kLimit;
    EXPECT_THROW(error.post(), ENetReplyTooLarge);
  }
  {
    // A HEAD reply announces a length it never sends: no body, nothing too large.
    ScriptedServer server;
    server.addConnection(ScriptedServer::Script().readRequest().send("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n").delay(500));
    TNetHTTP http;
    http.MaxReplySize = kLimit;
    rt::TStringStream sink;
    EXPECT_NO_THROW(http.ExecuteRequest(u"HEAD", rt::u16(server.url("/")), nullptr, &sink));
  }
  {
    Exchange exact(ScriptedServer::Script().readRequest().send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n").sendFill(1000));
    exact.http.MaxReplySize = kLimit;
    EXPECT_NO_THROW(exact.post());
    EXPECT_EQ(exact.sink.Size(), kLimit);
  }
}

// Replies cut short or mis-framed: a head without its empty line, a body shorter than its
// Content-Length, a chunk size that is no number, chunk data longer than its size, a chunked body
// cut after a complete chunk. Trailer fields after the last chunk are read and dropped.
TEST(HostileReplyTest, CutAndMisframedReplies) {
  const auto failsWith = [](const std::string& bytes) {
    Exchange exchange(ScriptedServer::Script().readRequest().send(bytes));
    try {
      exchange.post();
    } catch (const ENetConnClosedGracefully&) {
      return std::string("closed");
    } catch (const ENetMalformedReply&) {
      return std::string("malformed");
    }
    return std::string("completed: ") + exchange.sink.DataString();
  };
  EXPECT_EQ(failsWith("HTTP/1.1 200 OK\r\n"), "closed");
  EXPECT_EQ(failsWith("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 20"), "closed");
  EXPECT_EQ(failsWith("HTTP/1.1 200 OK\r\nContent-Length: 200\r\n\r\n{\"success\":fal"), "closed");
  const std::string chunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  EXPECT_EQ(failsWith(chunkedHead + "zz\r\n{\"success\":true}\r\n0\r\n\r\n"), "malformed");
  EXPECT_EQ(failsWith(chunkedHead + "\r\n0\r\n\r\n"), "malformed");
  EXPECT_EQ(failsWith(chunkedHead + "2\r\nokay\r\n0\r\n\r\n"), "malformed");
  EXPECT_EQ(failsWith(chunkedHead + "2\r\nok\r\n"), "closed");
  EXPECT_EQ(failsWith(chunkedHead + "2\r\nok\r\n0\r\n"), "closed");
  EXPECT_EQ(failsWith(chunkedHead + "2\r\nok\r\n0\r\nX-Checksum: 1\r\nX-More: 2\r\n\r\n"), "completed: ok");
}
