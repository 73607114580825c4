// The client's connect time limit, against a peer that only Linux can make: a listener whose full
// accept queue leaves further connects unanswered.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "http/NetExceptions.h"
#include "http/TNetTCPClientCustom.h"
#include "platform/LocalTime.h"

using namespace net;

namespace {

template <typename E, typename F>
std::u16string messageOf(F&& action) {
  try {
    action();
  } catch (const E& error) {
    return error.Message();
  }
  return u"<no error>";
}

}  // namespace

// A connect that the peer never completes ends with "Connect timed out." near the set time.
// Linux leaves connects to a listener with a full accept queue unanswered; Windows refuses them at
// once (10061), so there is no portable way to make a connect hang on the loopback.
TEST(PosixTNetTCPClientTest, ConnectTimeout) {
  // A listener whose accept queue is full drops further connection attempts unanswered.
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    const int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
    fillers.push_back(filler);
  }
  TNetTCPClientCustom client;
  client.Host = u"127.0.0.1";
  client.Port = ntohs(address.sin_port);
  client.ConnectTimeout = 300;
  const long long started = platform::tickCount();
  EXPECT_EQ(messageOf<ENetConnectTimeout>([&] { client.OpenConnection(); }), u"Connect timed out.");
  const long long took = platform::tickCount() - started;
  EXPECT_GE(took, 250);
  EXPECT_LT(took, 3000);
  for (int filler : fillers) close(filler);
  close(listener);
}
