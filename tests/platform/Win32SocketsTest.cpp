// Winsock through the seam, against listeners on 127.0.0.1 (the tests' server half): refused and
// timed-out connects with Winsock's own numbers, and bytes both ways.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/LocalTime.h"
#include "platform/Sockets.h"
#include "platform/win32/Win32Text.h"
#include "tests/support/ServerSocket.h"

using platform::SocketFamily;
using platform::SocketHandle;

namespace {

// A socket closed with the test.
struct Socket {
  SocketHandle handle = platform::kNoSocket;
  Socket() { EXPECT_EQ(platform::socketCreate(SocketFamily::IPv4, handle), 0); }
  explicit Socket(SocketHandle taken) : handle(taken) {}
  ~Socket() { platform::socketClose(handle); }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
};

// Wine's ntdll exports its version; Windows' does not.
bool underWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A listener on an ephemeral loopback port with `backlog`.
int listenOn(Socket& listener, int backlog) {
  EXPECT_EQ(platform::socketBind(listener.handle, SocketFamily::IPv4, "127.0.0.1", 0), 0);
  EXPECT_TRUE(testsupport::listenOn(listener.handle, backlog));
  return testsupport::boundPort(listener.handle);
}

}  // namespace

// A port nobody listens on refuses: WSAECONNREFUSED (10061), with or without a time limit.
TEST(Win32Sockets, ARefusedConnectIsWinsockNumber10061) {
  int port = 0;
  {
    Socket probe;
    port = listenOn(probe, 1);
  }  // closed: the port is free again
  Socket limited;
  EXPECT_EQ(platform::socketConnect(limited.handle, SocketFamily::IPv4, "127.0.0.1", port, 5000), 10061);
  Socket unlimited;
  EXPECT_EQ(platform::socketConnect(unlimited.handle, SocketFamily::IPv4, "127.0.0.1", port, -1), 10061);
}

// A listener whose queue is full and which never accepts leaves further connects pending: the
// time limit ends the wait with kSocketTimedOut, not much later than asked.
TEST(Win32Sockets, AConnectThatDoesNotCompleteEndsAtItsTimeLimit) {
  Socket listener;
  const int port = listenOn(listener, 1);
  std::vector<std::unique_ptr<Socket>> queued;
  int result = 0;
  long long waited = 0;
  for (int attempt = 0; attempt < 16; ++attempt) {
    queued.push_back(std::make_unique<Socket>());
    const long long started = platform::tickCount();
    result = platform::socketConnect(queued.back()->handle, SocketFamily::IPv4, "127.0.0.1", port, 300);
    waited = platform::tickCount() - started;
    if (result != 0) break;
  }
  EXPECT_EQ(result, platform::kSocketTimedOut);
  EXPECT_GE(waited, 250);
  EXPECT_LT(waited, 10000);
}

// Bytes go both ways between a connected socket and the accepted one; a wait for data times out
// while none is there; the peer's close reads as 0 bytes.
TEST(Win32Sockets, BytesTravelBothWaysThroughAcceptedConnections) {
  Socket listener;
  const int port = listenOn(listener, 4);
  Socket client;
  ASSERT_EQ(platform::socketSetNoDelay(client.handle, true), 0);
  ASSERT_EQ(platform::socketConnect(client.handle, SocketFamily::IPv4, "127.0.0.1", port, 5000), 0);
  bool ready = false;
  ASSERT_EQ(platform::socketWaitReadable(listener.handle, 5000, ready), 0);
  ASSERT_TRUE(ready);
  SocketHandle taken = platform::kNoSocket;
  ASSERT_TRUE(testsupport::acceptFrom(listener.handle, taken));
  Socket server(taken);

  ASSERT_EQ(platform::socketWaitReadable(server.handle, 50, ready), 0);
  EXPECT_FALSE(ready);
  std::size_t sent = 0;
  ASSERT_EQ(platform::socketSend(client.handle, "GET / HTTP/1.1\r\n", 16, sent), 0);
  EXPECT_EQ(sent, 16u);
  char buffer[64] = {};
  std::size_t received = 0;
  ASSERT_EQ(platform::socketWaitReadable(server.handle, 5000, ready), 0);
  ASSERT_TRUE(ready);
  ASSERT_EQ(platform::socketReceive(server.handle, buffer, sizeof buffer, received), 0);
  EXPECT_EQ(std::string(buffer, received), "GET / HTTP/1.1\r\n");

  ASSERT_EQ(platform::socketSend(server.handle, "HTTP/1.1 200 OK\r\n", 17, sent), 0);
  platform::socketShutdownSend(server.handle);
  std::string reply;
  for (;;) {
    ASSERT_EQ(platform::socketWaitReadable(client.handle, 5000, ready), 0);
    ASSERT_TRUE(ready);
    ASSERT_EQ(platform::socketReceive(client.handle, buffer, sizeof buffer, received), 0);
    if (received == 0) break;
    reply.append(buffer, received);
  }
  EXPECT_EQ(reply, "HTTP/1.1 200 OK\r\n");
}

// A receive with nothing to read answers WSAEWOULDBLOCK (10035) at once, since every socket is
// non-blocking; a reset close reaches the peer as 10054 on Windows. Wine closes every socket
// gracefully (even with linger 0 or unread data), so there the peer reads its end instead.
TEST(Win32Sockets, ModesAndResetsUseWinsockNumbers) {
  Socket listener;
  const int port = listenOn(listener, 4);
  Socket client;
  ASSERT_EQ(platform::socketConnect(client.handle, SocketFamily::IPv4, "127.0.0.1", port, 5000), 0);
  bool ready = false;
  ASSERT_EQ(platform::socketWaitReadable(listener.handle, 5000, ready), 0);
  SocketHandle taken = platform::kNoSocket;
  ASSERT_TRUE(testsupport::acceptFrom(listener.handle, taken));
  Socket server(taken);

  char buffer[8];
  std::size_t received = 0;
  EXPECT_EQ(platform::socketReceive(client.handle, buffer, sizeof buffer, received), 10035);

  testsupport::closeWithReset(server.handle);
  server.handle = platform::kNoSocket;
  ASSERT_EQ(platform::socketWaitReadable(client.handle, 5000, ready), 0);
  const int result = platform::socketReceive(client.handle, buffer, sizeof buffer, received);
  if (underWine()) {
    EXPECT_TRUE(result == 10054 || (result == 0 && received == 0)) << result;
  } else {
    EXPECT_EQ(result, 10054);
  }
}

// Names: a numeric IPv6 text is recognised; "localhost" resolves (from the hosts table, no
// network); a socket call on a closed handle gives 10038.
TEST(Win32Sockets, LookupsAndBadHandles) {
  EXPECT_TRUE(platform::isIPv6Literal("::1"));
  EXPECT_FALSE(platform::isIPv6Literal("127.0.0.1"));
  std::string address;
  EXPECT_EQ(platform::resolveHostName("localhost", SocketFamily::IPv4, address), 0);
  EXPECT_EQ(address, "127.0.0.1");

  SocketHandle handle = platform::kNoSocket;
  ASSERT_EQ(platform::socketCreate(SocketFamily::IPv4, handle), 0);
  platform::socketClose(handle);
  bool ready = false;
  EXPECT_EQ(platform::socketWaitReadable(handle, 0, ready), platform::kSocketErrorNotSocket);
}
