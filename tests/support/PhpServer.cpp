// PHP's built-in web server as a test peer, started with posix_spawn (the tests that start it run
// other threads) and asked for the port it bound instead of being handed one.
#include "tests/support/PhpServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "platform/Sockets.h"

extern char** environ;

namespace testsupport {

bool acceptingOnLoopback(int port) {
  platform::SocketHandle probe = platform::kNoSocket;
  if (platform::socketCreate(platform::SocketFamily::IPv4, probe) != 0) return false;
  const bool ok = platform::socketConnect(probe, platform::SocketFamily::IPv4, "127.0.0.1", port, 2000) == 0;
  platform::socketClose(probe);
  return ok;
}

int portFromStartLine(const std::string& log) {
  static const std::string kAddress = "Development Server (http://127.0.0.1:";
  const std::size_t at = log.find(kAddress);
  if (at == std::string::npos) return 0;
  const std::size_t digits = at + kAddress.size();
  const std::size_t end = log.find(')', digits);
  if (end == std::string::npos || end == digits || end - digits > 5) return 0;
  int port = 0;
  for (std::size_t i = digits; i < end; ++i) {
    if (log[i] < '0' || log[i] > '9') return 0;
    port = port * 10 + (log[i] - '0');
  }
  return port <= 65535 ? port : 0;
}

PhpServer::PhpServer(const std::filesystem::path& root) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDERR_FILENO);
  const std::string folder = root.string();
  const char* argv[] = {"php", "-n", "-S", "127.0.0.1:0", "-t", folder.c_str(), nullptr};
  pid_t child = -1;
  const int failed = posix_spawnp(&child, "php", &actions, nullptr, const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  log_ = ends[0];
  if (failed != 0) return;
  pid_ = child;

  // The start line comes first on standard error; read it within a deadline.
  std::string log;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (port_ == 0 && std::chrono::steady_clock::now() < deadline) {
    pollfd entry {log_, POLLIN, 0};
    if (poll(&entry, 1, 100) <= 0) continue;
    char block[1024];
    const ssize_t got = read(log_, block, sizeof block);
    if (got <= 0) break;
    log.append(block, static_cast<std::size_t>(got));
    port_ = portFromStartLine(log);
  }
  if (port_ == 0) return;
  drainer_ = std::thread([fd = log_] {
    char block[4096];
    while (read(fd, block, sizeof block) > 0) {
    }
  });
}

PhpServer::~PhpServer() { stop(); }

bool PhpServer::running() const { return pid_ > 0 && port_ > 0 && acceptingOnLoopback(port_); }

void PhpServer::stop() {
  if (pid_ > 0) {
    // Asked to end, and made to after five seconds.
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (waitpid(pid_, nullptr, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        break;
      }
      usleep(10000);
    }
    pid_ = -1;
  }
  // The server is gone, so its end of the pipe is closed and the drainer sees the end.
  if (drainer_.joinable()) drainer_.join();
  if (log_ >= 0) close(log_);
  log_ = -1;
}

}  // namespace testsupport
