// PHP's built-in web server (`php -n -S 127.0.0.1:0 -t <root>`) as a peer for tests: started in the
// constructor on a port the server picks itself, stopped and reaped in the destructor. Linux only:
// the peer tests that use it need PHP installed beside the build.
#pragma once

#include <filesystem>
#include <string>
#include <thread>

namespace testsupport {

class PhpServer {
 public:
  // Serves `root`. The server binds port 0 and its start line names the port it got, so two
  // servers started at the same moment can never race for one port. When PHP cannot be started or
  // names no port within ten seconds, running() is false.
  explicit PhpServer(const std::filesystem::path& root);
  ~PhpServer();
  PhpServer(const PhpServer&) = delete;
  PhpServer& operator=(const PhpServer&) = delete;

  bool running() const;
  int port() const { return port_; }
  // "http://127.0.0.1:<port>/"
  std::string base() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

 private:
  void stop();

  int port_ = 0;
  int pid_ = -1;
  int log_ = -1;         // read end of the server's standard error
  std::thread drainer_;  // keeps reading the server's log so that it never blocks on a full pipe
};

// True when something accepts connections on 127.0.0.1:`port`.
bool acceptingOnLoopback(int port);

// The port named by a PHP development server's start line
// ("... Development Server (http://127.0.0.1:39525) started"), 0 when `log` holds none yet.
int portFromStartLine(const std::string& log);

}  // namespace testsupport
