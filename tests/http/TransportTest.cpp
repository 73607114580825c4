// The transport under the HTTP client: byte queue, socket layer, connection and I/O handler,
// driven against the scripted loopback server.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "http/NetExceptions.h"
#include "http/TNetBuffer.h"
#include "http/TNetIOHandlerStack.h"
#include "http/TNetStack.h"
#include "http/TNetTCPClientCustom.h"
#include "platform/LocalTime.h"
#include "runtime/TMemoryStream.h"
#include "runtime/Text.h"
#include "runtime/TStringStream.h"
#include "tests/support/BytesStream.h"
#include "tests/support/ErrorMessage.h"
#include "tests/support/ScriptedServer.h"

using namespace net;
using testsupport::messageOf;
using testsupport::ScriptedServer;

namespace {

// A client connected to a server playing `script`.
struct Connected {
  ScriptedServer server;
  TNetTCPClientCustom client;
  explicit Connected(ScriptedServer::Script script, long long readTimeout = -1) {
    server.addConnection(std::move(script));
    client.Host = u"127.0.0.1";
    client.Port = server.port();
    client.ReadTimeout = readTimeout;
    client.OpenConnection();
  }
  TNetIOHandler& io() { return *client.IOHandler(); }
};

}  // namespace

// The queue against a plain string model, through appends and takes of every size, including
// the compaction and shrinking paths; and its two messages.
TEST(TNetBufferTest, BehavesLikeAFifoAndReportsShortTakes) {
  TNetBuffer buffer;
  std::string model;
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    if (random() % 2 == 0) {
      std::string bytes(random() % 70000, '\0');
      for (char& c : bytes) c = static_cast<char>(random());
      buffer.Write(bytes);
      model += bytes;
    } else {
      const std::int64_t take = model.empty() ? 0 : random() % (model.size() + 1);
      ASSERT_EQ(buffer.Extract(take), model.substr(0, take));
      model.erase(0, take);
    }
    ASSERT_EQ(buffer.View(), model);
  }
  buffer.Clear();
  buffer.Write("abcd");
  EXPECT_EQ(messageOf<ENetNotEnoughDataInBuffer>([&] { buffer.Extract(10); }), u"Not enough data in buffer. (10/4)");
  EXPECT_EQ(buffer.IndexOfBytes("cd"), 2);
  EXPECT_EQ(buffer.IndexOfBytes("cd", 3), -1);
  EXPECT_EQ(buffer.ExtractText(4), u"abcd");
}

// Error numbers and texts, and the address rules that avoid a lookup.
TEST(TNetStackTest, SocketErrorTextsAndAddressRules) {
  EXPECT_EQ(TNetStack::ErrorMessage(10061), u"Socket Error # 10061\r\nConnection refused.");
  EXPECT_EQ(TNetStack::ErrorMessage(11001), u"Socket Error # 11001\r\nHost not found.");
  EXPECT_EQ(TNetStack::ErrorMessage(12345), u"Socket Error # 12345\r\n");
  EXPECT_THROW(TNetStack::RaiseSocketError(10038), ENetNotASocket);

  EXPECT_EQ(TNetStack::ResolveAddress(u"LocalHost", TNetIPVersion::Net_IPv4), u"127.0.0.1");
  EXPECT_EQ(TNetStack::ResolveAddress(u"192.168.0.255", TNetIPVersion::Net_IPv4), u"192.168.0.255");
  EXPECT_EQ(TNetStack::ResolveAddress(u"::1", TNetIPVersion::Net_IPv6), u"::1");
  EXPECT_FALSE(TNetStack::IsDottedQuad(u"10.0.0.256"));
  EXPECT_FALSE(TNetStack::IsDottedQuad(u"1.2.3"));
  EXPECT_FALSE(TNetStack::IsDottedQuad(u"1.2.3.4."));
  EXPECT_TRUE(TNetStack::IsDottedQuad(u"255.0.01.001"));
  for (const char16_t* text : {u"1..2.3", u".1.2.3", u"1.2.3.4.5", u"+1.2.3.4", u"1.2.3. 4", u"0001.2.3.4", u""})
    EXPECT_FALSE(TNetStack::IsDottedQuad(text)) << rt::toUtf8(text);
  // 10.0.0.256 is looked up as a name, and no such name exists.
  try {
    TNetStack::ResolveAddress(u"10.0.0.256", TNetIPVersion::Net_IPv4);
    ADD_FAILURE() << "resolved";
  } catch (const ENetSocketError& error) {
    EXPECT_EQ(error.LastError(), 11001);
    EXPECT_EQ(error.Message(), u"Socket Error # 11001\r\nHost not found.");
  }
}

// Connect failures: refused, already connected, missing host; a failed connect leaves the client
// clean for the next attempt; a connection's binding holds both ends' addresses.
TEST(TNetTCPClientTest, ConnectFailuresAndRecovery) {
  int freePort = 0;
  {
    ScriptedServer probe;
    freePort = probe.port();
  }
  TNetTCPClientCustom client;
  client.Host = u"localhost";
  client.Port = freePort;
  try {
    client.OpenConnection();
    ADD_FAILURE() << "connected to a closed port";
  } catch (const ENetSocketError& error) {
    EXPECT_EQ(error.LastError(), 10061);
    EXPECT_EQ(error.Message(), u"Socket Error # 10061\r\nConnection refused.");
  }
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_FALSE(client.IsConnected());
  client.CloseConnection();  // harmless when not connected

  ScriptedServer server;
  server.addConnection(ScriptedServer::Script().delay(300));
  client.Port = server.port();
  client.OpenConnection();
  EXPECT_TRUE(client.IsConnected());
  EXPECT_EQ(messageOf<ENetAlreadyConnected>([&] { client.OpenConnection(); }), u"Already connected.");

  TNetTCPClientCustom noHost;
  noHost.Port = 80;
  EXPECT_THROW(noHost.OpenConnection(), ENetHostRequired);
}

// Line endings: CR LF and LF alone end a line the same way; a CR inside a line stays.
TEST(TNetIOHandlerTest, ReadLineEndings) {
  Connected c(ScriptedServer::Script().send("HTTP/1.1 200 OK\r\nsecond\nmid\rdle\r\n\r\n"));
  EXPECT_EQ(c.io().ReadLine(), u"HTTP/1.1 200 OK");
  EXPECT_EQ(c.io().ReadLine(), u"second");
  EXPECT_EQ(c.io().ReadLine(), u"mid\rdle");
  EXPECT_EQ(c.io().ReadLine(), u"");
}

// The line limit: 16384 bytes pass, 16385 without LF raise; maSplit hands out the first part.
TEST(TNetIOHandlerTest, MaxLineLength) {
  {
    Connected c(ScriptedServer::Script().send(std::string(16384, 'a') + "\n" + std::string(16385, 'b')).delay(2000));
    EXPECT_EQ(c.io().ReadLine().size(), 16384u);
    EXPECT_EQ(messageOf<ENetReadLnMaxLineLengthExceeded>([&] { c.io().ReadLine(); }), u"Max line length exceeded.");
  }
  {
    Connected c(ScriptedServer::Script().send(std::string(20000, 'c') + "\r\n"));
    c.io().MaxLineAction = TNetMaxLineAction::maSplit;
    EXPECT_EQ(c.io().ReadLine(), std::u16string(16384, u'c'));
    EXPECT_TRUE(c.io().ReadLnSplit());
    EXPECT_EQ(c.io().ReadLine(), std::u16string(20000 - 16384, u'c'));
    EXPECT_FALSE(c.io().ReadLnSplit());
  }
}

// A peer that closes after three unterminated bytes: a line read fails, a read until close
// keeps the bytes; IsConnected stays true while they are queued.
TEST(TNetIOHandlerTest, PeerCloseWithUnterminatedBytes) {
  {
    Connected c(ScriptedServer::Script().send("abc"));
    EXPECT_EQ(messageOf<ENetConnClosedGracefully>([&] { c.io().ReadLine(); }), u"Connection Closed Gracefully.");
  }
  {
    Connected c(ScriptedServer::Script().send("abc"));
    c.server.waitForFinished(1, 2000);
    EXPECT_TRUE(c.client.IsConnected());  // closed by the peer, but "abc" is unread
    rt::TStringStream sink;
    c.io().ReceiveToStream(sink, -1, true);
    EXPECT_EQ(sink.DataString(), "abc");
    EXPECT_FALSE(c.client.IsConnected());
  }
}

// A count read that the peer cuts short raises and stores none of the incomplete block; bytes
// already queued when the read starts are stored.
TEST(TNetIOHandlerTest, ReceiveToStreamByCount) {
  {
    Connected c(ScriptedServer::Script().delay(100).send("1234"));
    rt::TStringStream sink;
    EXPECT_THROW(c.io().ReceiveToStream(sink, 10, false), ENetConnClosedGracefully);
    EXPECT_EQ(sink.DataString(), "");
  }
  {
    // 100000 bytes arrive in several blocks; the stream ends exactly at the count even though
    // it held longer old contents past its position.
    std::string body(100000, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7);
    Connected c(ScriptedServer::Script().send(body + "tail"));
    testsupport::BytesStream sink(std::string(200000, '#'));
    sink.SetPosition(0);
    c.io().ReceiveToStream(sink, 100000, false);
    EXPECT_EQ(sink.DataString(), body);
    rt::TStringStream rest;
    c.io().ReceiveToStream(rest, -1, true);
    EXPECT_EQ(rest.DataString(), "tail");
  }
}

// A read time-out: a silent peer makes a line read fail with "Read timed out." after the set
// time; a byte count read the same. The peer stays silent for kSilence, far longer than the
// time-out: a read that ends before that was ended by the time-out.
TEST(TNetIOHandlerTest, ReadTimeout) {
  constexpr int kSilence = 30000;
  Connected c(ScriptedServer::Script().delay(kSilence), 200);
  const long long started = platform::tickCount();
  rt::TStringStream sink;
  EXPECT_EQ(messageOf<ENetReadTimeout>([&] { c.io().ReceiveToStream(sink, 5, false); }), u"Read timed out.");
  const long long took = platform::tickCount() - started;
  EXPECT_GE(took, 150);
  EXPECT_LT(took, kSilence);
  // ReadLine reports a time-out through its flag instead.
  EXPECT_EQ(c.io().ReadLine(), u"");
  EXPECT_TRUE(c.io().ReadLnTimedOut());
  EXPECT_FALSE(c.io().WaitForData(50));
}

// Writing: a buffered head leaves in one piece when the buffer ends, a discarded one never; a
// stream is sent whole from position 0 whatever its position.
TEST(TNetIOHandlerTest, WritesBufferedAndStreams) {
  Connected c(ScriptedServer::Script().readUntilClose());
  TNetIOHandler& io = c.io();
  io.BeginBufferedWrite(-1);
  io.WriteLine(u"dropped");
  io.DiscardBufferedWrite();
  io.BeginBufferedWrite(-1);
  io.WriteLine(u"GET / HTTP/1.0");
  io.WriteText(u"caf\u00e9", TNetTextEncoding::Utf8);
  io.WriteText(u"\u00e9", TNetTextEncoding::Ascii7);
  io.WriteBytes(std::string("\0\r\n", 3));
  io.EndBufferedWrite();
  std::string big(100000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i % 251);
  testsupport::BytesStream body(big);
  body.Seek(0, rt::SeekOrigin::End);
  io.SendStream(body, 0);
  c.client.CloseConnection();
  ASSERT_TRUE(c.server.waitForFinished(1, 3000));
  EXPECT_EQ(c.server.received(0), "GET / HTTP/1.0\r\ncaf\xc3\xa9?" + std::string("\0\r\n", 3) + big);
}

// Sending to a peer that reset the connection raises a socket error, not a crash or a signal.
TEST(TNetIOHandlerTest, SendAfterResetRaisesSocketError) {
  Connected c(ScriptedServer::Script().reset());
  c.server.waitForFinished(1, 2000);
  std::string block(65536, 'z');
  EXPECT_THROW(
      {
        for (int i = 0; i < 100; ++i) c.io().WriteBytes(block);
      },
      ENetException);
}
