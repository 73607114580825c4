// The client's connect time limit, against a peer that only Linux can make: a listener whose full
// accept queue leaves further connects unanswered.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>

#include "http/NetExceptions.h"
#include "http/TNetTCPClientCustom.h"
#include "platform/LocalTime.h"
#include "tests/support/ErrorMessage.h"

using namespace net;
using testsupport::messageOf;

// A connect that the peer never completes ends with "Connect timed out." no earlier than the set
// time. The peer is a listener with room for one connection in its accept queue, filled by a
// connection it never accepts: Linux then leaves every further handshake unanswered, and left
// alone the client's connect would stay pending for about two minutes of SYN retries. Ending
// before kNeverAnswered proves that the time limit ended it. Windows refuses such connects at once
// (10061), so there is no portable way to make a connect hang on the loopback.
TEST(PosixTNetTCPClientTest, ConnectTimeout) {
  constexpr long long kNeverAnswered = 30000;
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  // The filler's handshake completes at once; the listener turning readable shows it has reached
  // the accept queue, which is then full.
  const int filler = socket(AF_INET, SOCK_STREAM, 0);
  const timeval limit {10, 0};
  setsockopt(filler, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  ASSERT_EQ(connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  pollfd queued {listener, POLLIN, 0};
  ASSERT_EQ(poll(&queued, 1, 10000), 1);

  TNetTCPClientCustom client;
  client.Host = u"127.0.0.1";
  client.Port = ntohs(address.sin_port);
  client.ConnectTimeout = 300;
  const long long started = platform::tickCount();
  EXPECT_EQ(messageOf<ENetConnectTimeout>([&] { client.OpenConnection(); }), u"Connect timed out.");
  const long long took = platform::tickCount() - started;
  EXPECT_GE(took, 250);
  EXPECT_LT(took, kNeverAnswered);
  close(filler);
  close(listener);
}
