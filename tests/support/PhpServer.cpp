// PHP's built-in web server as a test peer.
#include "tests/support/PhpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/LocalTime.h"

namespace testsupport {
namespace {

sockaddr_in loopback(int port) {
  sockaddr_in address {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

}  // namespace

int freeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = loopback(0);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

bool acceptingOnLoopback(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in address = loopback(port);
  const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

PhpServer::PhpServer(const std::filesystem::path& root) {
  for (int attempt = 0; attempt < 5 && !running(); ++attempt) {
    stop();
    port_ = freeLoopbackPort();
    const std::string listen = "127.0.0.1:" + std::to_string(port_);
    pid_ = fork();
    if (pid_ == 0) {
      const int quiet = open("/dev/null", O_WRONLY);
      dup2(quiet, 1);
      dup2(quiet, 2);
      execlp("php", "php", "-n", "-S", listen.c_str(), "-t", root.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    const long long until = platform::tickCount() + 5000;
    while (!acceptingOnLoopback(port_) && platform::tickCount() < until && alive()) platform::sleepMilliseconds(50);
  }
}

PhpServer::~PhpServer() { stop(); }

bool PhpServer::running() const { return pid_ > 0 && acceptingOnLoopback(port_); }

bool PhpServer::alive() { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

void PhpServer::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace testsupport
