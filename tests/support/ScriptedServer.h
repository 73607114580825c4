// A scripted loopback peer for socket tests: listens on 127.0.0.1 (or ::1) at an ephemeral port
// (or a given one), runs in its own thread, and plays one script per accepted connection (read a
// request, send bytes, wait, close, ...). It records the exact bytes each connection received, so tests can compare
// a request byte for byte.
//
// Connections are served one after another, in the order they arrive. Each takes the next
// script added with addConnection(); when none is left, the default script (setDefaultScript)
// is played, and without a default script the connection is closed at once.
//
//   testsupport::ScriptedServer server;
//   server.addConnection(testsupport::ScriptedServer::Script()
//                            .readRequest()
//                            .send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
//   ... client POSTs to server.url("/index.php?r=sw/exist") ...
//   EXPECT_EQ(server.requests().at(0), "POST /index.php?r=sw/exist HTTP/1.0\r\n...");
//
// After the last step the server sends its FIN and waits up to half a second for the client to
// close (so unread request bytes do not turn the close into a reset) before it accepts the next
// connection. Every wait inside the server is bounded by its stop flag: destroying the server
// ends the thread promptly even in the middle of a script.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Sockets.h"

namespace testsupport {

class ScriptedServer {
 public:
  // What to do on one connection, step by step. The connection is closed after the last step.
  class Script {
   public:
    // Reads one whole HTTP request: the head up to the empty line, then as many body bytes as
    // its Content-Length says. The bytes are recorded (see requests()); with `keepBody` false
    // the body is read and counted but not kept (for very large uploads).
    Script& readRequest(bool keepBody = true);
    // Reads and records everything until the client closes its side.
    Script& readUntilClose();
    // Sends the bytes as they are.
    Script& send(std::string bytes);
    // Sends `count` copies of `byte` in large blocks, without holding them all in memory.
    Script& sendFill(std::uint64_t count, char byte = 'x');
    // Sends `bytes` again and again until the client goes away or the server stops.
    Script& sendForever(std::string bytes);
    // Waits (the server stays silent).
    Script& delay(int milliseconds);
    // Waits until `released` is true or the time has passed. `released` must stay alive until the
    // connection has played this step.
    Script& delayUntil(const std::atomic<bool>& released, int milliseconds);
    // Closes the connection now (a normal close; the remaining steps are skipped).
    Script& close();
    // Resets the connection (the client sees "Connection reset by peer").
    Script& reset();

   private:
    friend class ScriptedServer;
    enum class Kind { ReadRequest, ReadUntilClose, Send, SendFill, SendForever, Delay, Close, Reset };
    struct Step {
      Kind kind;
      std::string bytes;
      std::uint64_t count = 0;
      bool keepBody = true;
      const std::atomic<bool>* released = nullptr;  // ends a Delay early
    };
    std::vector<Step> steps_;
  };

  enum class Family { IPv4, IPv6 };

  // Starts listening on 127.0.0.1 (or ::1 for IPv6) at `port` and serving; raises
  // std::runtime_error when the socket cannot be set up. Port 0 (the default) takes an ephemeral
  // port, which is what tests should do; a fixed port is for peers that cannot be told another
  // one (a program with a compiled-in address inside a private network namespace), and is bound
  // with address reuse so that a port in TIME_WAIT does not stop the next test.
  explicit ScriptedServer(Family family = Family::IPv4, int port = 0);
  // Stops the thread and closes every socket.
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>" + path ("http://[::1]:<port>" + path for IPv6).
  std::string url(const std::string& path = "/") const;

  // Queues the script for the next connection that has no script yet.
  void addConnection(Script script);
  // The script for connections beyond the queued ones (empty Script = close at once).
  void setDefaultScript(Script script);

  // Every request read by readRequest steps, in arrival order (bodies left out when not kept).
  std::vector<std::string> requests() const;
  // All bytes received on connection `index` (0-based) so far.
  std::string received(std::size_t index) const;
  // Body bytes that readRequest steps read (kept or not), summed over all connections.
  std::uint64_t bodyBytesRead() const;
  // Connections accepted so far.
  std::size_t connections() const;
  // Waits until `count` connections have finished their scripts (true) or the time passed.
  bool waitForFinished(std::size_t count, int timeoutMilliseconds) const;

 private:
  void serve();
  void play(platform::SocketHandle connection, const Script& script, std::size_t index);
  // Reads once into `data`; false when the peer closed, failed, or the server is stopping.
  bool readSome(platform::SocketHandle connection, std::string& data);
  bool sendAll(platform::SocketHandle connection, const char* data, std::size_t count);
  // Sends the FIN, then drains what the client still sends (briefly) before closing.
  void closeGracefully(platform::SocketHandle connection);
  void record(std::size_t index, const std::string& bytes);

  platform::SocketHandle listener_ = platform::kNoSocket;
  int port_ = 0;
  Family family_;
  std::atomic<bool> stopping_ {false};
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  std::vector<Script> queued_;
  std::size_t nextScript_ = 0;
  std::optional<Script> default_;
  std::vector<std::string> requests_;
  std::vector<std::string> received_;
  std::uint64_t bodyBytes_ = 0;
  std::size_t finished_ = 0;
  std::thread thread_;
};

}  // namespace testsupport
