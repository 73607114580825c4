// PHP's built-in web server (`php -n -S 127.0.0.1:<port> -t <root>`) as a peer for tests: started
// on a free loopback port in the constructor, stopped and reaped in the destructor.
#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace testsupport {

class PhpServer {
 public:
  // Serves `root`. A port that someone else takes between choosing it and binding it is retried
  // with another one; after five failed starts running() stays false.
  explicit PhpServer(const std::filesystem::path& root);
  ~PhpServer();
  PhpServer(const PhpServer&) = delete;
  PhpServer& operator=(const PhpServer&) = delete;

  bool running() const;
  int port() const { return port_; }
  // "http://127.0.0.1:<port>/"
  std::string base() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

 private:
  bool alive();
  void stop();

  int port_ = 0;
  pid_t pid_ = -1;
};

// A loopback port that was free a moment ago.
int freeLoopbackPort();
// True when something accepts connections on 127.0.0.1:`port`.
bool acceptingOnLoopback(int port);

}  // namespace testsupport
